// A command-line driver over the storage and engine libraries, for the fault
// tests: each command makes the calls the views make for one user action, on
// the database in a directory given on the command line, so that a test can
// run the real code path in a process of its own and hurt it from outside.
//
//   velmora_driver DIR install NAMEFILE SERIALFILE SEEDFILE
//                                                   as OK in the install form, the
//                                                   texts read from files
//   velmora_driver DIR press ID [COUNT [PAUSE]]     as the OTP button, COUNT times,
//                                                   each after PAUSE milliseconds
//   velmora_driver DIR list                         the token menu's listing
//   velmora_driver DIR get ID                       why the stored token cannot
//                                                   compute (hex), read only
//   velmora_driver DIR pin-set PIN | pin-check PIN  the PIN forms
//   velmora_driver DIR protect keyring|file PIN     the protection setting, with
//                                                   store keys in files "DIR/key-*"
//
// Output is one line per result, texts in hex so that any byte survives; each
// line is flushed before the next call, as a screen would show it at once.
// Every failure is one line on standard error and a non-zero exit status:
// 1 for a storage error (its message names what failed), 2 for a wrong
// command line, 3 for a refusal (no such token, a token that cannot compute,
// a seed or text that the engine rejects).
#include "otp/OtpToken.h"
#include "process/ProcessGuard.h"
#include "storage/LocalDatabase.h"
#include "support/FileKeyProvider.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace {

enum Status { Success = 0, StorageError = 1, UsageError = 2, Refused = 3 };

// A failure that is not a storage error.
struct Failure
{
    Status status;
    std::string message;
};

void PrintLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::string ReadFile(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw Failure{UsageError, std::string("cannot read ") + path};
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The install form's OK: the engine makes the token, storage keeps it and
// selects it; the new token's ID is what the OTP view then shows.
void Install(LocalDatabase& database, const std::string& name, const std::string& serial,
             const std::string& seed)
{
    const COtpTokenPtr token = COtpToken::Create(name.c_str(), serial.c_str(), seed.c_str());
    if (!token) {
        throw Failure{Refused, "the name, serial or seed was refused"};
    }
    database.SaveToken(token);
    PrintLine("installed " + std::to_string(database.GetDefaultToken()));
}

// The OTP button, `count` times, each after `pause` milliseconds: the counter
// is reserved in storage first, and only then is the code computed and shown.
void Press(LocalDatabase& database, int id, int count, int pause)
{
    for (int press = 0; press < count; ++press) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        const CCounterReservation reservation = database.ReserveCounter(id);
        if (!reservation.Token) {
            throw Failure{Refused, "no token " + std::to_string(id)};
        }
        if (!reservation.Counter) {
            throw Failure{Refused, "token " + std::to_string(id) +
                                       " cannot compute codes on a press: " +
                                       reservation.Token->GetUnusableReason()};
        }
        const std::uint64_t counter = *reservation.Counter;
        const OtpPair codes = reservation.Token->GetOtpAt(counter);
        if (codes.first.empty()) {
            throw Failure{Refused, "token " + std::to_string(id) + " gave no code"};
        }
        PrintLine(std::to_string(counter) + " " + codes.first);
    }
}

void Run(int argc, char* argv[])
{
    // Each command with its least and most number of arguments.
    static const std::map<std::string, std::pair<int, int>> commands{
        {"install", {3, 3}}, {"press", {1, 3}},     {"list", {0, 0}},   {"get", {1, 1}},
        {"pin-set", {1, 1}}, {"pin-check", {1, 1}}, {"protect", {2, 2}}};
    const auto found = argc < 3 ? commands.end() : commands.find(argv[2]);
    if (found == commands.end() || argc - 3 < found->second.first ||
        argc - 3 > found->second.second) {
        throw Failure{UsageError,
                      "usage: velmora_driver DIR install NAMEFILE SERIALFILE SEEDFILE | press ID "
                      "[COUNT [PAUSE]] | list | get ID | pin-set PIN | pin-check PIN | protect "
                      "keyring|file PIN"};
    }
    const std::string command = found->first;

    LocalDatabase database{std::string(argv[1])};
    if (!database.IsOpen()) {
        throw std::runtime_error(database.GetOpenError());
    }
    testsupport::CFileKeyProvider keys(argv[1]);
    database.SetStoreKeyProvider(&keys);
    database.LoadStoreKey();
    if (command == "install") {
        Install(database, ReadFile(argv[3]), ReadFile(argv[4]), ReadFile(argv[5]));
    } else if (command == "press") {
        Press(database, std::stoi(argv[3]), argc > 4 ? std::stoi(argv[4]) : 1,
              argc > 5 ? std::stoi(argv[5]) : 0);
    } else if (command == "list") {
        for (const TokenListing& listing : database.ListTokens()) {
            PrintLine(std::to_string(listing.ID) + " " + Hex(listing.Name) + " " +
                      Hex(listing.Serial) + " " + Hex(listing.Title));
        }
    } else if (command == "get") {
        const COtpTokenPtr token = database.GetToken(std::stoi(argv[3]));
        if (!token) {
            throw Failure{Refused, "no token " + std::string(argv[3])};
        }
        PrintLine("unusable " + Hex(token->GetUnusableReason()));
    } else if (command == "protect") {
        const std::string mode = argv[3];
        const auto change =
            database.SetProtection(mode == "keyring" ? LocalDatabase::Protection::Keyring
                                                     : LocalDatabase::Protection::File,
                                   argv[4]);
        if (change == LocalDatabase::ProtectionChange::WrongPin) {
            throw Failure{Refused, "wrong PIN"};
        }
        PrintLine(change == LocalDatabase::ProtectionChange::Done ? "protection changed"
                                                                  : "protection unchanged");
    } else if (command == "pin-set") {
        database.SetPin(argv[3]);
        PrintLine("pin set");
    } else {
        PrintLine(database.CheckPin(argv[3]) ? "pin matches" : "pin does not match");
    }
}

} // namespace

int main(int argc, char* argv[])
{
    // As every program over the store: a file-size limit fails a write, not the process.
    PrepareProcess();
    Failure failure{StorageError, "unknown error"};
    try {
        Run(argc, argv);
        return Success;
    } catch (const Failure& caught) {
        failure = caught;
    } catch (const std::exception& error) {
        failure.message = error.what();
    } catch (...) {
    }
    // One line, whatever the message holds.
    std::string line =
        "velmora_driver: " + std::string(argc > 2 ? argv[2] : "") + ": " + failure.message + '\n';
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        line[i] = line[i] == '\n' || line[i] == '\r' ? ' ' : line[i];
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    return failure.status;
}
