#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

// Test programs of the interface run against a database on a fresh temporary
// directory, never against the user's own.
LocalDatabase g_localDatabase(testsupport::MakeTempDirectory());
