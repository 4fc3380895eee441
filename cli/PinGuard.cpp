#include "PinGuard.h"

#include "ExitStatus.h"
#include "SecretInput.h"

#include "storage/LocalDatabase.h"

#include <QString>

#include <openssl/crypto.h>

namespace {

// The window's rule for a new PIN: at least four characters.
constexpr int MinimumPinLength = 4;

struct Pin
{
    std::string text;
    ~Pin() { OPENSSL_cleanse(text.data(), text.size()); }
};

std::string AskTyped(const std::string& prompt)
{
    std::optional<std::string> typed = AskOnTerminal(prompt);
    if (!typed) {
        throw CCliFailure{ExitStatus::Usage,
                          "no terminal to ask the PIN on: give --pin-file or --pin-fd"};
    }
    return std::move(*typed);
}

std::string ReadGiven(const CPinSource& source, const std::string& prompt)
{
    if (!source.File.empty()) {
        return ReadSecretFile(source.File, "PIN");
    }
    if (!source.Descriptor.empty()) {
        return ReadSecretDescriptor(source.Descriptor, "PIN");
    }
    return AskTyped(prompt);
}

} // namespace

void UnlockStore(LocalDatabase& database, const CPinSource& source, std::string* kept)
{
    if (database.IsPinSet()) {
        const Pin pin{ReadGiven(source, "PIN: ")};
        if (!database.CheckPin(pin.text)) {
            throw CCliFailure{ExitStatus::WrongPin, "wrong PIN"};
        }
        if (kept != nullptr) {
            *kept = pin.text;
        }
        return;
    }
    const bool typed = source.File.empty() && source.Descriptor.empty();
    const Pin pin{ReadGiven(source, "No PIN is set yet. New PIN: ")};
    if (typed) {
        const Pin again{AskTyped("Repeat the new PIN: ")};
        if (again.text != pin.text) {
            throw CCliFailure{ExitStatus::Refused, "the two PINs differ; no PIN was set"};
        }
    }
    if (QString::fromLocal8Bit(pin.text.data(), static_cast<qsizetype>(pin.text.size())).length() <
        MinimumPinLength) {
        throw CCliFailure{ExitStatus::Refused, "a new PIN needs at least " +
                                                   std::to_string(MinimumPinLength) +
                                                   " characters; no PIN was set"};
    }
    database.SetPin(pin.text);
    if (kept != nullptr) {
        *kept = pin.text;
    }
}
