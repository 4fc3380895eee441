#pragma once

#include <string>
#include <vector>

// Runs one command of velmora-cli on the user's database and returns the exit
// status; errors go to standard error, one line each.
int RunCli(const std::vector<std::string>& args);
