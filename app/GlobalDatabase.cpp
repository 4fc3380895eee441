#include "storage/LocalDatabase.h"

// The application's database, in the user's home directory. Its constructor
// records an open failure instead of throwing; main() reports it.
LocalDatabase g_localDatabase;
