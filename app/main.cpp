#include "app/Application.h"
#include "storage/LocalDatabase.h"

int main(int argc, char* argv[])
{
    return RunApplication(g_localDatabase, argc, argv);
}
