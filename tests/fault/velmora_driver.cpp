// A command-line driver over the storage and engine libraries, for the fault
// tests: each command makes the calls the views make for one user action, on
// the database in a directory given on the command line, so that a test can
// run the real code path in a process of its own and hurt it from outside.
//
//   velmora_driver DIR install NAME SERIAL SEED     as OK in the install form
//   velmora_driver DIR install-files NAMEFILE SERIALFILE SEEDFILE
//                                                   the same, texts read from files
//   velmora_driver DIR press ID [COUNT [PAUSE]]     as the OTP button, COUNT times,
//                                                   PAUSE milliseconds apart
//   velmora_driver DIR list                         the token menu's listing
//   velmora_driver DIR get ID                       the stored token, read only
//   velmora_driver DIR pin-set PIN | pin-check PIN  the PIN forms
//
// Output is one line per result, texts in hex so that any byte survives; each
// line is flushed before the next call, as a screen would show it at once.
// Every failure is one line on standard error and a non-zero exit status:
// 1 for a storage error (its message names what failed), 2 for a wrong
// command line, 3 for a refusal (no such token, a token that cannot compute,
// a seed or text that the engine rejects).
#include "otp/OtpToken.h"
#include "storage/LocalDatabase.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

enum Status { Success = 0, StorageError = 1, UsageError = 2, Refused = 3 };

const char* const Usage =
    "usage: velmora_driver DIR install NAME SERIAL SEED | install-files "
    "NAMEFILE SERIALFILE SEEDFILE | press ID [COUNT [PAUSE]] | list | get ID | "
    "pin-set PIN | pin-check PIN";

// Raised for a refusal that is not a storage error.
struct Refusal
{
    std::string message;
};

struct UsageFault
{
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
    text.reserve(bytes.size() * 2);
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

int ParseId(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 0x7fffffffL) {
        throw UsageFault{std::string("not a token ID: ") + text};
    }
    return static_cast<int>(value);
}

std::string ReadFile(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        throw UsageFault{std::string("cannot read ") + path + ": " + std::strerror(errno)};
    }
    std::string bytes;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
        bytes.append(buffer, got);
    }
    std::fclose(file);
    return bytes;
}

// The install form's OK: the engine makes the token, storage keeps it and
// selects it; the new token's ID is what the OTP view then shows.
void Install(LocalDatabase& database, const std::string& name, const std::string& serial,
             const std::string& seed)
{
    const COtpTokenPtr token = COtpToken::Create(name.c_str(), serial.c_str(), seed.c_str());
    if (!token) {
        throw Refusal{"the name, serial or seed was refused"};
    }
    database.SaveToken(token);
    PrintLine("installed " + std::to_string(database.GetDefaultToken()));
}

// The OTP button, `count` times, `pause` milliseconds apart: the counter is
// reserved in storage first, and only then is the code computed and shown.
void Press(LocalDatabase& database, int id, long count, long pause)
{
    for (long press = 0; press < count; ++press) {
        if (press > 0 && pause > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        }
        const COtpTokenPtr token = database.ReserveCounter(id);
        if (!token) {
            throw Refusal{"no token has ID " + std::to_string(id)};
        }
        const std::string reason = token->GetUnusableReason();
        if (!reason.empty()) {
            throw Refusal{"token " + std::to_string(id) + " cannot compute codes: " + reason};
        }
        if (!token->IsEventBased()) {
            throw Refusal{"token " + std::to_string(id) + " is not pressed"};
        }
        const std::uint64_t counter = token->Counter;
        const OtpPair codes = token->GetOtp();
        if (codes.first.empty()) {
            throw Refusal{"token " + std::to_string(id) + " gave no code"};
        }
        PrintLine(std::to_string(counter) + " " + codes.first);
    }
}

void List(LocalDatabase& database)
{
    for (const TokenListing& listing : database.ListTokens()) {
        PrintLine(std::to_string(listing.ID) + " " + Hex(listing.Name) + " " + Hex(listing.Serial) +
                  " " + Hex(listing.Title));
    }
}

void Get(LocalDatabase& database, int id)
{
    const COtpTokenPtr token = database.GetToken(id);
    if (!token) {
        throw Refusal{"no token has ID " + std::to_string(id)};
    }
    PrintLine("counter " + std::to_string(token->Counter) + " type " +
              std::to_string(token->TokenType) + " name " + Hex(token->Name) + " serial " +
              Hex(token->Serial) + " unusable " + Hex(token->GetUnusableReason()));
}

int Run(int argc, char* argv[])
{
    if (argc < 3) {
        throw UsageFault{Usage};
    }
    const std::string command = argv[2];
    const auto arguments = [argc, &command](int wanted, int optional = 0) {
        if (argc - 3 < wanted || argc - 3 > wanted + optional) {
            throw UsageFault{command + ": wrong number of arguments; " + Usage};
        }
    };
    const bool known = command == "install" || command == "install-files" || command == "press" ||
                       command == "list" || command == "get" || command == "pin-set" ||
                       command == "pin-check";
    if (!known) {
        throw UsageFault{"unknown command " + command + "; " + Usage};
    }

    LocalDatabase database{std::string(argv[1])};
    if (!database.IsOpen()) {
        const std::string& reason = database.GetOpenError();
        throw std::runtime_error(reason.empty() ? "the database could not be opened" : reason);
    }

    if (command == "install") {
        arguments(3);
        Install(database, argv[3], argv[4], argv[5]);
    } else if (command == "install-files") {
        arguments(3);
        Install(database, ReadFile(argv[3]), ReadFile(argv[4]), ReadFile(argv[5]));
    } else if (command == "press") {
        arguments(1, 2);
        const long count = argc > 4 ? ParseId(argv[4]) : 1;
        const long pause = argc > 5 ? ParseId(argv[5]) : 0;
        Press(database, ParseId(argv[3]), count, pause);
    } else if (command == "list") {
        arguments(0);
        List(database);
    } else if (command == "get") {
        arguments(1);
        Get(database, ParseId(argv[3]));
    } else if (command == "pin-set") {
        arguments(1);
        database.SetPin(argv[3]);
        PrintLine("pin set");
    } else {
        arguments(1);
        PrintLine(database.CheckPin(argv[3]) ? "pin matches" : "pin does not match");
    }
    return Success;
}

int Fail(const std::string& command, const std::string& message, int status)
{
    std::string line = "velmora_driver: " + command + message;
    // One line, whatever the message holds.
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::string command = argc > 2 ? std::string(argv[2]) + ": " : std::string();
    try {
        return Run(argc, argv);
    } catch (const UsageFault& fault) {
        return Fail(command, fault.message, UsageError);
    } catch (const Refusal& refusal) {
        return Fail(command, refusal.message, Refused);
    } catch (const std::exception& error) {
        return Fail(command, error.what(), StorageError);
    } catch (...) {
        return Fail(command, "unknown error", StorageError);
    }
}
