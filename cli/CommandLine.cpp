#include "CommandLine.h"

#include "ExitStatus.h"

#include <algorithm>
#include <iterator>

namespace {

// What each command accepts: options with a value, switches, and how many
// operands.
struct CommandSyntax
{
    const char* name;
    // Up to three names each, the unused ones null.
    const char* valued[3];
    const char* switches[2];
    std::size_t operands;
    const char* help;
};

const char ProgramHelp[] =
    "usage: velmora-cli COMMAND [options]\n"
    "\n"
    "The command line of Velmora, over the same tokens, PIN and database as the window.\n"
    "\n"
    "commands:\n"
    "  list [--json]                      the installed tokens (never a key)\n"
    "  code QUERY [--json]                the code of a token: an ID, a name or part of one\n"
    "  import FILE|- [--dry-run]          accounts from Key URIs, migration payloads, vault\n"
    "                                     files or images of QR codes\n"
    "  export --format uri|vault --output FILE\n"
    "                                     the tokens other authenticators can compute\n"
    "  protect keyring|file [--backup FILE]\n"
    "                                     keep the secrets under a key in the desktop\n"
    "                                     keyring, or under the file's fixed key\n"
    "\n"
    "Every command asks for the PIN on the terminal, or reads it with --pin-file FILE\n"
    "(mode 0600 or stricter) or --pin-fd N. 'velmora-cli COMMAND --help' tells more.\n"
    "Exit status: 0 success, 1 storage failure, 2 usage, 3 refused, 4 wrong PIN,\n"
    "5 ambiguous query. See velmora-cli(1).\n";

const char PinHelp[] = "  --pin-file FILE    read the PIN from FILE (a regular file, mode 0600 or "
                       "stricter)\n"
                       "  --pin-fd N         read the PIN from file descriptor N\n";

const CommandSyntax Commands[] = {
    {"list",
     {},
     {"json"},
     0,
     "usage: velmora-cli list [--json] [--pin-file FILE | --pin-fd N]\n"
     "\n"
     "Lists the installed tokens: ID, type, digits, the period of time-based tokens or\n"
     "the next counter of event-based ones, and the name. A token that cannot compute\n"
     "says why. Keys are never shown.\n"
     "\n"
     "  --json             one JSON array, one object per token\n"},
    {"code",
     {},
     {"json"},
     1,
     "usage: velmora-cli code QUERY [--json] [--pin-file FILE | --pin-fd N]\n"
     "\n"
     "Prints the code of one token. QUERY is a token's ID, its exact name, or a part of\n"
     "its name that no other token's name holds (letter case aside); a query that fits\n"
     "several tokens lists them and exits with status 5. An event-based token's counter\n"
     "is stored as used before its code is printed, so no code is ever printed twice; a\n"
     "time-based code is printed with the seconds it has left.\n"
     "\n"
     "  --json             one JSON object\n"},
    {"import",
     {"password-file"},
     {"dry-run"},
     1,
     "usage: velmora-cli import FILE|- [--dry-run] [--password-file FILE]\n"
     "                          [--pin-file FILE | --pin-fd N]\n"
     "\n"
     "Installs the accounts of FILE (standard input for -): Key URIs (otpauth://), one\n"
     "per line, migration payloads (otpauth-migration://), vault files, plain or\n"
     "password-encrypted, or images holding QR codes of them; the format is found from\n"
     "the content. Prints every entry as new, already installed (same key, type, digits\n"
     "and period: skipped) or refused with its reason, then stores the new ones in one\n"
     "transaction: all of them or, on any failure, none. Exits with status 3 when an\n"
     "entry was refused.\n"
     "\n"
     "  --dry-run          print the plan, store nothing\n"
     "  --password-file F  the password of an encrypted vault (else asked on the terminal)\n"},
    {"export",
     {"format", "output", "password-file"},
     {},
     0,
     "usage: velmora-cli export --format uri|vault --output FILE [--password-file FILE]\n"
     "                          [--pin-file FILE | --pin-fd N]\n"
     "\n"
     "Writes every token that other authenticators compute alike to FILE (mode 0600,\n"
     "replaced whole or not at all): as Key URIs, one per line, or as a\n"
     "password-encrypted vault file. Tokens that cannot be exported are listed with the\n"
     "reason, and the status is then 3.\n"
     "\n"
     "  --format uri|vault the file's format\n"
     "  --output FILE      the file to write\n"
     "  --password-file F  the vault's password (else asked twice on the terminal)\n"},
    {"protect",
     {"backup", "password-file"},
     {},
     1,
     "usage: velmora-cli protect keyring|file [--backup FILE [--password-file FILE]]\n"
     "                          [--pin-file FILE | --pin-fd N]\n"
     "\n"
     "keyring: every secret (the keys, counters and PIN hash) is stored encrypted under\n"
     "a random key kept in the desktop keyring, so the database file alone gives none\n"
     "away; the store then opens only where that keyring is unlocked, and a lost\n"
     "keyring is a lost store. file: back to the file's own fixed key, readable by\n"
     "older copies. All secrets are rewritten in one transaction.\n"
     "\n"
     "  --backup FILE      first write a password-encrypted vault of the tokens to FILE\n"
     "  --password-file F  the vault's password (else asked twice on the terminal)\n"},
};

const CommandSyntax* Find(const std::string& name)
{
    for (const CommandSyntax& syntax : Commands) {
        if (name == syntax.name) {
            return &syntax;
        }
    }
    return nullptr;
}

template <std::size_t Count>
bool Contains(const char* const (&names)[Count], const std::string& name)
{
    return std::any_of(std::begin(names), std::end(names),
                       [&name](const char* known) { return known != nullptr && name == known; });
}

} // namespace

std::string CCommandLine::Value(const std::string& name) const
{
    const auto found = Values.find(name);
    return found == Values.end() ? std::string() : found->second;
}

CCommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    CCommandLine line;
    if (args.empty()) {
        throw CCliFailure{ExitStatus::Usage, "no command given; try velmora-cli --help"};
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        line.Switches.insert("help");
        return line;
    }
    const CommandSyntax* syntax = Find(args[0]);
    if (syntax == nullptr) {
        throw CCliFailure{ExitStatus::Usage,
                          "unknown command '" + args[0] + "'; try velmora-cli --help"};
    }
    line.Command = args[0];
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || arg.rfind("--", 0) != 0) {
            if (!optionsEnded && arg.size() > 1 && arg[0] == '-' && arg != "-") {
                throw CCliFailure{ExitStatus::Usage, "unknown option " + arg};
            }
            line.Operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name =
            arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        if (name == "help" || Contains(syntax->switches, name)) {
            if (equals != std::string::npos) {
                throw CCliFailure{ExitStatus::Usage, "--" + name + " takes no value"};
            }
            line.Switches.insert(name);
        } else if (name == "pin-file" || name == "pin-fd" || Contains(syntax->valued, name)) {
            if (equals != std::string::npos) {
                line.Values[name] = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                line.Values[name] = args[++i];
            } else {
                throw CCliFailure{ExitStatus::Usage, "--" + name + " needs a value"};
            }
        } else {
            throw CCliFailure{ExitStatus::Usage, line.Command + " has no option --" + name};
        }
    }
    if (line.Has("help")) {
        return line;
    }
    if (line.Values.count("pin-file") != 0 && line.Values.count("pin-fd") != 0) {
        throw CCliFailure{ExitStatus::Usage, "give --pin-file or --pin-fd, not both"};
    }
    if (line.Operands.size() != syntax->operands) {
        throw CCliFailure{
            ExitStatus::Usage,
            line.Command + " takes " +
                (syntax->operands == 0 ? std::string("no operand") : std::string("one operand")) +
                "; try velmora-cli " + line.Command + " --help"};
    }
    return line;
}

std::string HelpText(const std::string& command)
{
    const CommandSyntax* syntax = Find(command);
    return syntax == nullptr ? std::string(ProgramHelp) : std::string(syntax->help) + PinHelp;
}
