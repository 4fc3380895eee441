#include "support/TempDirectory.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

std::vector<std::string>& CreatedDirectories()
{
    static std::vector<std::string> directories;
    return directories;
}

void RemoveCreatedDirectories()
{
    std::error_code ignored;
    for (const std::string& dir : CreatedDirectories()) {
        std::filesystem::remove_all(dir, ignored);
    }
}

} // namespace

std::string MakeTempDirectory()
{
    // The list must exist before the clean-up is registered: exit undoes static
    // objects and atexit handlers in reverse order, so the clean-up then runs
    // while the list is still alive.
    std::vector<std::string>& created = CreatedDirectories();
    static std::once_flag cleanupRegistered;
    std::call_once(cleanupRegistered, [] { std::atexit(RemoveCreatedDirectories); });

    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory from " + pattern);
    }
    created.push_back(pattern);
    return pattern;
}

} // namespace testsupport
