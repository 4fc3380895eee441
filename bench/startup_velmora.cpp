// The application exactly as `velmora` runs it, on the database directory of
// VELMORA_BENCH_DATA (never the user's home), ending at its first paint.
#include "Fixtures.h"
#include "app/Application.h"
#include "storage/LocalDatabase.h"

LocalDatabase g_localDatabase(benchfixtures::DataDirectory());

int main(int argc, char* argv[])
{
    return RunApplication(g_localDatabase, argc, argv);
}
