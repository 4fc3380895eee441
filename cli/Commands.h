#pragma once

#include "CommandLine.h"

#include <string>

class LocalDatabase;

// The commands, run on an unlocked store. Each returns the exit status, prints
// its result on standard output and throws CCliFailure for a one-line error.
int ListTokens(LocalDatabase& database, const CCommandLine& line);
int PrintCode(LocalDatabase& database, const CCommandLine& line);
int ImportAccounts(LocalDatabase& database, const CCommandLine& line);
int ExportAccounts(LocalDatabase& database, const CCommandLine& line);
// Switches the secrets' protection; the PIN gates it.
int SetProtection(LocalDatabase& database, const CCommandLine& line, const std::string& pin);
