#pragma once

#include <string>
#include <vector>

// The parts of text between separators, in order; adjacent separators give
// empty parts, and a text without one is a single part.
std::vector<std::string> SplitAt(const std::string& text, char separator);
