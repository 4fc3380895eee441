// velmora-seed: makes and checks the seeds users type to install a token, and
// prints the key material an OTP server needs for the token's main code.
#include "interop/Codecs.h"
#include "otp/NumberText.h"
#include "otp/OtpToken.h"
#include "otp/Seed.h"
#include "process/ProcessGuard.h"

#include <openssl/rand.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

// Exit statuses: a refused seed or option, and a command line that is not understood.
constexpr int Refused = 1;
constexpr int Usage = 2;

// Base32 as servers take it in a key field: padded to whole groups of eight.
std::string PaddedBase32(const std::vector<std::uint8_t>& key)
{
    std::string text = EncodeBase32(key);
    text.resize((text.size() + 7) / 8 * 8, '=');
    return text;
}

const char UsageText[] =
    "usage: velmora-seed new --serial SERIAL [--type hotp|totp|cb|tb|ct|cr] [--digits N]\n"
    "                        [--timer N] [--sleep N] [--sync N] [--checksum] [--two-way]\n"
    "       velmora-seed check --serial SERIAL SEED\n"
    "       velmora-seed --version\n"
    "See velmora-seed(1).\n";

// A failure that ends the program with a message and a status.
struct Failure
{
    int status;
    std::string message;
};

struct CommandLine
{
    std::string command;
    std::map<std::string, std::string> values; // options with a value
    std::vector<std::string> switches;         // options without one
    std::vector<std::string> operands;
};

bool TakesValue(const std::string& option)
{
    for (const char* name : {"serial", "type", "digits", "timer", "sleep", "sync"}) {
        if (option == name) {
            return true;
        }
    }
    return false;
}

CommandLine Parse(const std::vector<std::string>& args)
{
    CommandLine line;
    if (args.empty()) {
        throw Failure{Usage, "no command given"};
    }
    line.command = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0 || arg.size() == 2) {
            line.operands.push_back(arg);
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
        if (name == "checksum" || name == "two-way") {
            if (equals != std::string::npos) {
                throw Failure{Usage, "--" + name + " takes no value"};
            }
            line.switches.push_back(name);
        } else if (TakesValue(name)) {
            if (equals != std::string::npos) {
                line.values[name] = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                line.values[name] = args[++i];
            } else {
                throw Failure{Usage, "--" + name + " needs a value"};
            }
        } else {
            throw Failure{Usage, "unknown option --" + name};
        }
    }
    return line;
}

bool Has(const std::vector<std::string>& list, const char* item)
{
    for (const std::string& entry : list) {
        if (entry == item) {
            return true;
        }
    }
    return false;
}

std::string Serial(const CommandLine& line)
{
    const auto serial = line.values.find("serial");
    if (serial == line.values.end()) {
        throw Failure{Usage, "--serial is required"};
    }
    return serial->second;
}

std::int32_t Number(const CommandLine& line, const char* option, std::int32_t fallback)
{
    const auto value = line.values.find(option);
    if (value == line.values.end()) {
        return fallback;
    }
    try {
        return ParseInt32(value->second);
    } catch (const ConversionError&) {
        throw Failure{Refused, std::string("--") + option + " takes a whole number, not \"" +
                                   value->second + "\""};
    }
}

// Ten key text digits from the system's cryptographic generator. Digits only,
// so that the seed is all digits and its check digit covers the key text.
std::string RandomKeyText()
{
    std::string text;
    while (text.size() < SeedKeyTextLength) {
        unsigned char bytes[16];
        if (RAND_bytes(bytes, sizeof bytes) != 1) {
            throw Failure{Refused, "the system's random generator gave no bytes"};
        }
        for (const unsigned char byte : bytes) {
            // 250 is the largest multiple of ten a byte holds: no digit is favoured.
            if (byte < 250 && text.size() < SeedKeyTextLength) {
                text += static_cast<char>('0' + byte % 10);
            }
        }
    }
    return text;
}

std::string YesNo(bool value)
{
    return value ? "yes" : "no";
}

void PrintLine(const std::string& name, const std::string& value)
{
    std::printf("%-12s %s\n", (name + ":").c_str(), value.c_str());
}

// The otpauth:// URI of a key for the token's codes; empty for the types no
// such URI describes.
std::string UriOf(const COtpToken& token, const std::vector<std::uint8_t>& key)
{
    // CB counts like HOTP, and TB is TOTP on its real step: half the Timer.
    const bool counted = token.TokenType == TokenTypeHOTP || token.TokenType == TokenTypeCB;
    if (!counted && token.TokenType != TokenTypeTOTP && token.TokenType != TokenTypeTB) {
        return std::string();
    }
    const std::string secret = EncodeBase32(key);
    return std::string("otpauth://") + (counted ? "hotp" : "totp") + "/" +
           PercentEncode(token.Serial) + "?secret=" + secret +
           "&algorithm=SHA1&digits=" + std::to_string(token.Digits) + "&" +
           (counted ? "counter=1" : "period=" + std::to_string(token.GetTimeStep()));
}

// The token the seed installs, and the keys of its codes for an OTP server.
void PrintToken(const std::string& seed, const COtpToken& token)
{
    const std::vector<std::uint8_t> key(token.OtpKey, token.OtpKey + token.OtpKeyLength);
    const std::vector<std::pair<const char*, std::string>> lines = {
        {"seed", seed},
        {"serial", token.Serial},
        {"type", token.GetTypeName()},
        {"digits", std::to_string(token.Digits)},
        {"check-digit", YesNo(token.CheckSum)},
        {"two-way", YesNo(token.TwoWay)},
        {"timer", std::to_string(token.Timer)},
        {"sleep", std::to_string(token.Sleep)},
        {"sync-size", std::to_string(token.SyncSize)},
        {"key-hex", EncodeHex(key)},
        {"key-base32", PaddedBase32(key)},
    };
    for (const auto& [name, value] : lines) {
        PrintLine(name, value);
    }
    const std::string uri = UriOf(token, key);
    if (!uri.empty()) {
        PrintLine("otpauth-uri", uri);
    }
    // The second code is the main code's computation on the second key.
    if (token.TwoWay) {
        const std::vector<std::uint8_t> second(token.TwoWayKey,
                                               token.TwoWayKey + token.TwoWayKeyLength);
        PrintLine("two-way-key-hex", EncodeHex(second));
        PrintLine("two-way-key-base32", PaddedBase32(second));
        if (!uri.empty()) {
            PrintLine("two-way-uri", UriOf(token, second));
        }
    }
    if (token.TokenType == TokenTypeCR) {
        PrintLine("note", "a CR token answers challenges only: Velmora shows no code for it");
    } else if (token.TokenType == TokenTypeCT) {
        PrintLine("note", "a CT code mixes the counter and the time in one message: standard "
                          "HOTP and TOTP servers cannot verify its codes");
    }
    if (token.CheckSum) {
        PrintLine("note", "every code shown ends in a check digit: the server drops the last "
                          "digit before it compares");
    }
}

// Creates the token from the seed the way installing does, and prints it.
int Report(const std::string& serial, const std::string& seed)
{
    const COtpTokenPtr token = COtpToken::Create("velmora-seed", serial.c_str(), seed.c_str());
    if (!token) {
        throw Failure{Refused,
                      COtpToken::CreateRefusal("velmora-seed", serial.c_str(), seed.c_str())};
    }
    PrintToken(seed, *token);
    return 0;
}

int New(const CommandLine& line)
{
    if (!line.operands.empty()) {
        throw Failure{Usage, "new takes no operand: \"" + line.operands[0] + "\""};
    }
    const std::string serial = Serial(line);
    const std::string weakness = SerialCheckWeakness(serial);
    if (!weakness.empty()) {
        throw Failure{Refused, weakness};
    }
    static const std::map<std::string, std::int32_t> types = {
        {"hotp", TokenTypeHOTP}, {"totp", TokenTypeTOTP}, {"cb", TokenTypeCB},
        {"tb", TokenTypeTB},     {"ct", TokenTypeCT},     {"cr", TokenTypeCR}};
    const auto typeOption = line.values.find("type");
    const std::string typeName = typeOption == line.values.end() ? "hotp" : typeOption->second;
    const auto type = types.find(typeName);
    if (type == types.end()) {
        throw Failure{Refused, "unknown token type \"" + typeName +
                                   "\": choose hotp, totp, cb, tb, ct or cr"};
    }

    SeedFields fields;
    fields.TokenType = type->second;
    // Only version 0 seeds make CB and TB tokens; version 1 makes the others.
    fields.Version = fields.TokenType == TokenTypeCB || fields.TokenType == TokenTypeTB ? 0 : 1;
    fields.Digits = Number(line, "digits", 6);
    fields.Timer = Number(line, "timer", 60);
    fields.Sleep = Number(line, "sleep", 5);
    fields.SyncSize = Number(line, "sync", 2);
    fields.CheckSum = Has(line.switches, "checksum");
    fields.TwoWay = Has(line.switches, "two-way");
    fields.KeyText = std::string(SeedKeyTextLength, '0');
    // Refuse what a seed cannot hold before any random byte is drawn.
    const SeedEncoding trial = EncodeSeed(serial, fields);
    if (!trial.Refusal.empty()) {
        throw Failure{Refused, trial.Refusal};
    }
    fields.KeyText = RandomKeyText();
    return Report(serial, EncodeSeed(serial, fields).Seed);
}

int Check(const CommandLine& line)
{
    if (!line.switches.empty() || line.values.size() != 1) {
        throw Failure{Usage, "check takes --serial and the seed, nothing else"};
    }
    if (line.operands.size() != 1) {
        throw Failure{Usage, "check takes exactly one seed"};
    }
    return Report(Serial(line), line.operands[0]);
}

int Run(const std::vector<std::string>& args)
{
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        std::fputs(UsageText, stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("velmora-seed %s\n", VELMORA_VERSION);
        return 0;
    }
    const CommandLine line = Parse(args);
    if (line.command == "new") {
        return New(line);
    }
    if (line.command == "check") {
        return Check(line);
    }
    throw Failure{Usage, "unknown command \"" + line.command + "\""};
}

} // namespace

int main(int argc, char* argv[])
{
    PrepareProcess();
    try {
        const int status = Run(std::vector<std::string>(argv + 1, argv + argc));
        // A seed that never reached its reader must not be reported as made.
        return FinishOutput("velmora-seed") ? status : Refused;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "velmora-seed: %s\n", failure.message.c_str());
        if (failure.status == Usage) {
            std::fputs(UsageText, stderr);
        }
        return failure.status;
    }
}
