// velmora-cli: the tokens of Velmora's database on the command line.
#include "CliRun.h"

#include "process/ProcessGuard.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    PrepareProcess();
    const int status = RunCli(std::vector<std::string>(argv + 1, argv + argc));
    return FinishOutput("velmora-cli") ? status : 1;
}
