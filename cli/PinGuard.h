#pragma once

#include <string>

class LocalDatabase;

// Where the PIN comes from: --pin-file, --pin-fd, or else the terminal.
struct CPinSource
{
    std::string File;
    std::string Descriptor;
};

// Opens the store to the command line as the PIN form opens the window: a
// store with a PIN wants it (a wrong one throws CCliFailure with
// ExitStatus::WrongPin); a store without one takes a new PIN, typed twice on
// the terminal or read once from the PIN file or descriptor, and stores it.
// The PIN given is kept in `pin` when it is not null, for commands it gates.
void UnlockStore(LocalDatabase& database, const CPinSource& source, std::string* pin = nullptr);
