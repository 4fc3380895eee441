#pragma once

#include <string>

// The exit statuses of velmora-cli, as its manual page lists them.
namespace ExitStatus {
constexpr int Success = 0;
// The database cannot be opened, read or written (the window ends with 1 too).
constexpr int StorageFailure = 1;
constexpr int Usage = 2;
// An input, a file, a token or an entry refused; the message says why.
constexpr int Refused = 3;
constexpr int WrongPin = 4;
constexpr int AmbiguousQuery = 5;
} // namespace ExitStatus

// Ends a command with a one-line message on standard error and a status.
struct CCliFailure
{
    int Status;
    std::string Message;
};
