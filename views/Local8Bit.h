#pragma once

#include <QString>

#include <string>

// Text typed by the user as the 8-bit string the engine and storage take:
// the local 8-bit bytes up to the first zero byte.
std::string toLocal8BitString(const QString& text);

// An 8-bit string for display, read in the local 8-bit encoding up to the
// first zero byte.
QString fromLocal8BitString(const std::string& text);

// As fromLocal8BitString, with each control character shown as a visible
// placeholder (the stored bytes stay as they are): a C0 control or DEL in
// caret notation, as terminals show them (a tab as "^I", escape as "^[", DEL
// as "^?"), any other control or line or paragraph separator as U+FFFD. Plain
// ASCII, so every font draws it. For menu entries and window titles, where a
// tab would open the shortcut column and a line feed a second line.
QString fromLocal8BitVisible(const std::string& text);
