#include "storage/StorePlace.h"

#include "storage/Diagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Tightening
{
    std::string path;
    mode_t from;
    mode_t to;
};

std::string Octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

[[noreturn]] void Refuse(const std::string& path, const std::string& reason)
{
    throw std::runtime_error("refusing " + path + ": " + reason);
}

// lstat; false when the path cannot be looked at (missing, or a component
// that is no folder): creating or opening it then reports what is wrong.
bool Look(const std::string& path, struct stat& status)
{
    return ::lstat(path.c_str(), &status) == 0;
}

bool WritableByOthers(const struct stat& status)
{
    return (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// The user's own, writable by the user alone; read and search bits of the
// group and others are noted for taking away.
void CheckPrivate(const std::string& path, const struct stat& status,
                  std::vector<Tightening>& tightenings)
{
    if (S_ISLNK(status.st_mode)) {
        // Written through, the store would land wherever the link points.
        Refuse(path, "it is a symbolic link");
    }
    if (status.st_uid != getuid()) {
        Refuse(path, "it belongs to user id " + std::to_string(status.st_uid) +
                         ", not to you (user id " + std::to_string(getuid()) + ")");
    }
    if (WritableByOthers(status)) {
        Refuse(path, "users other than you can write to it (mode " + Octal(status.st_mode) + ")");
    }
    const mode_t mode = status.st_mode & 07777;
    if ((mode & 077) != 0) {
        tightenings.push_back({path, mode, static_cast<mode_t>(mode & 0700)});
    }
}

std::string Parent(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

void SecureStorePlace(const std::string& directory, const std::string& databasePath)
{
    struct stat status = {};
    // Whoever can write the parent can rename the data directory away and put
    // one of their own in its place; a sticky bit stops that.
    const std::string parent = Parent(directory);
    if (::stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        if ((status.st_mode & (S_IWOTH | S_ISVTX)) == S_IWOTH) {
            Refuse(parent, "anybody can write to it (mode " + Octal(status.st_mode) +
                               ") and it has no sticky bit, so others could replace " + directory);
        }
        if (status.st_uid != getuid() && status.st_uid != 0) {
            Refuse(parent, "it belongs to user id " + std::to_string(status.st_uid) +
                               ", who could replace " + directory);
        }
    }

    std::vector<Tightening> tightenings;
    // A data directory that is a file is reported when the file is opened in it.
    if (Look(directory, status) && (S_ISDIR(status.st_mode) || S_ISLNK(status.st_mode))) {
        CheckPrivate(directory, status, tightenings);
    }
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        const std::string path = databasePath + suffix;
        if (!Look(path, status)) {
            continue;
        }
        if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
            Refuse(path, "it is not a regular file");
        }
        CheckPrivate(path, status, tightenings);
    }

    // Only after every check passed: a refused start changes nothing.
    for (const Tightening& tightening : tightenings) {
        if (::chmod(tightening.path.c_str(), tightening.to) != 0) {
            Refuse(tightening.path, "others can read it (mode " + Octal(tightening.from) +
                                        ") and it cannot be made private: " + std::strerror(errno));
        }
        ReportDiagnostic(tightening.path + " could be read by users other than you (mode " +
                         Octal(tightening.from) + "): changed to mode " + Octal(tightening.to));
    }
}
