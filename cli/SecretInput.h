#pragma once

#include <optional>
#include <string>

// Secrets (the PIN, a vault password) never travel on the command line: they
// are typed on the terminal without echo, or read from a file or a file
// descriptor. Every function throws CCliFailure with the reason.

// Asks on the controlling terminal with echo off; nothing when there is no
// terminal to ask on.
std::optional<std::string> AskOnTerminal(const std::string& prompt);
// The first line of a regular file that is no symlink and that only its
// owner, the user, may read or write (mode 0600 or stricter).
std::string ReadSecretFile(const std::string& path, const char* what);
// The first line read from an open file descriptor.
std::string ReadSecretDescriptor(const std::string& descriptor, const char* what);
