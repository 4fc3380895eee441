#pragma once

#include <string>

namespace testsupport {

// Creates a fresh, empty directory under the system's temporary directory and
// returns its path. The directory and everything in it are removed at exit.
std::string MakeTempDirectory();

} // namespace testsupport
