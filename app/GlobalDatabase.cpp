#include "process/ProcessGuard.h"
#include "storage/LocalDatabase.h"

namespace {
// Set up before the database below opens its file: objects of one translation
// unit are constructed in the order they are defined.
[[maybe_unused]] const bool processPrepared = (PrepareProcess(), true);
} // namespace

// The application's database, in the user's home directory. Its constructor
// records an open failure instead of throwing; main() reports it.
LocalDatabase g_localDatabase;
