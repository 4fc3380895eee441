#pragma once

#include <string>

// A formatted statement carries a text up to its first zero byte: a text that
// would be cut is refused rather than stored shorter than it was given.
// Throws std::invalid_argument "<operation>: the <what> holds a zero byte, ...".
void RefuseZeroByte(const std::string& text, const char* operation, const char* what);
