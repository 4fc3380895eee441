#pragma once

#include <stdexcept>
#include <string>

// A formatted statement carries a text up to its first zero byte: a text that
// would be cut is refused rather than stored shorter than it was given.
// Throws std::invalid_argument "<operation>: the <what> holds a zero byte, ...".
inline void RefuseZeroByte(const std::string& text, const char* operation, const char* what)
{
    if (text.find('\0') != std::string::npos) {
        throw std::invalid_argument(std::string(operation) + ": the " + what +
                                    " holds a zero byte, which cannot be stored");
    }
}
