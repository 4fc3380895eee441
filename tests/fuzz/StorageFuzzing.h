#pragma once

#include "Fuzzing.h"

#include "storage/LocalDatabase.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace storagefuzz {

// The database every input of a fuzzing run uses, in a directory of the run's
// own (in memory where /dev/shm exists, so that its syncs cost little) that
// is removed when the process exits.
inline LocalDatabase& Database()
{
    static std::string directory =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/velmora-fuzz-XXXXXX";
    static LocalDatabase* const database = [] {
        Require(mkdtemp(directory.data()) != nullptr, "no scratch directory");
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(directory, ignored);
        });
        auto* db = new LocalDatabase(directory);
        Require(db->IsOpen(), "the scratch database does not open");
        return db;
    }();
    return *database;
}

} // namespace storagefuzz
