#pragma once

#include <QString>

#include <string>

// Text typed by the user as the 8-bit string the engine and storage take:
// the local 8-bit bytes up to the first zero byte.
std::string toLocal8BitString(const QString& text);

// An 8-bit string for display, read in the local 8-bit encoding up to the
// first zero byte.
QString fromLocal8BitString(const std::string& text);
