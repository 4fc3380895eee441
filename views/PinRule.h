#pragma once

#include <QString>

// Shortest PIN the forms accept, in characters (not in the bytes stored).
constexpr int MinimumPinLength = 4;

// A new PIN is accepted when it was typed twice alike and is long enough.
inline bool IsAcceptableNewPin(const QString& pin, const QString& confirmation)
{
    return !pin.isEmpty() && pin == confirmation && pin.length() >= MinimumPinLength;
}
