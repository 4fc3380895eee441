#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// A parsed command line: `velmora-cli COMMAND [options] [operands]`.
struct CCommandLine
{
    std::string Command;
    std::map<std::string, std::string> Values; // options with a value, by name without "--"
    std::set<std::string> Switches;            // options without one
    std::vector<std::string> Operands;

    bool Has(const std::string& name) const { return Switches.count(name) != 0; }
    // The option's value, or "" when it was not given.
    std::string Value(const std::string& name) const;
};

// Parses the arguments after the program name; throws CCliFailure
// (ExitStatus::Usage) for an unknown command or option, a missing value or a
// wrong number of operands. "--help" anywhere gives Switches {"help"}.
CCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The help text of a command, or of the program for "".
std::string HelpText(const std::string& command);
