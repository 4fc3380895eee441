#pragma once

#include "storage/LocalDatabase.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

namespace storagefuzz {

// A directory of the fuzzing run's own (in memory where /dev/shm exists, so
// that the database's syncs cost little), removed when the process exits.
inline const std::string& ScratchDirectory()
{
    static const std::string directory = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/velmora-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return pattern;
    }();
    static const bool removal = [] {
        return std::atexit([] {
                   std::error_code ignored;
                   std::filesystem::remove_all(ScratchDirectory(), ignored);
               }) == 0;
    }();
    (void)removal;
    return directory;
}

// The database every input of a fuzzing run uses.
inline LocalDatabase& Database()
{
    static LocalDatabase* const database = [] {
        auto* db = new LocalDatabase(ScratchDirectory());
        if (!db->IsOpen()) {
            std::abort();
        }
        return db;
    }();
    return *database;
}

// Stops the run with the input as a finding when a property does not hold.
inline void Require(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

} // namespace storagefuzz
