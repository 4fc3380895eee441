#pragma once

#include "views/Local8Bit.h"

#include <QString>

#include <string>

// The window title that names a token: "Velmora [" + its display name + "]",
// the name read back the way it was typed, control characters in caret notation.
inline QString TokenWindowTitle(const std::string& displayName)
{
    return QStringLiteral("Velmora [%1]").arg(fromLocal8BitVisible(displayName));
}
