#include "interop/VaultFile.h"

#include "interop/VaultCrypto.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <cmath>
#include <optional>

namespace {

constexpr std::size_t MasterKeyLength = 32;
constexpr std::size_t SaltLength = 32;
constexpr int PasswordSlot = 1;
constexpr int WrittenDatabaseVersion = 2;
// Doubles count whole numbers exactly up to 2^53.
constexpr double MaxWholeNumber = 9007199254740992.0;

[[noreturn]] void Fail(const std::string& what)
{
    throw CInterchangeError("the vault file " + what);
}

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::optional<std::uint64_t> WholeNumber(const QJsonValue& value)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!(number >= 0 && number <= MaxWholeNumber) || std::floor(number) != number) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(number);
}

// A hex field of exactly `length` bytes, or nothing.
std::optional<ByteVector> HexField(const QJsonObject& object, const char* name, std::size_t length)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (!value.isString()) {
        return std::nullopt;
    }
    std::optional<ByteVector> bytes = DecodeHex(Utf8(value.toString()));
    if (!bytes || bytes->size() != length) {
        return std::nullopt;
    }
    return bytes;
}

// A text field that may be missing or null (""); nothing when of another type.
std::optional<std::string> TextField(const QJsonObject& object, const char* name)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isUndefined() || value.isNull()) {
        return std::string();
    }
    if (!value.isString()) {
        return std::nullopt;
    }
    return Utf8(value.toString());
}

CAccount ReadEntry(const QJsonValue& value)
{
    CAccount account;
    if (!value.isObject()) {
        account.Type = "?";
        account.Refusal = "the entry is not a JSON object";
        return account;
    }
    const QJsonObject entry = value.toObject();
    const std::optional<std::string> type = TextField(entry, "type");
    const std::optional<std::string> name = TextField(entry, "name");
    const std::optional<std::string> issuer = TextField(entry, "issuer");
    account.Type = type.value_or("?");
    account.AccountName = name.value_or(std::string());
    account.Issuer = issuer.value_or(std::string());
    if (!type || !name || !issuer) {
        account.Refusal = "its type, name or issuer is not text";
        return account;
    }
    if (account.Type != "totp" && account.Type != "hotp") {
        return account; // refused for its type where entries become tokens
    }
    const QJsonValue infoValue = entry.value(QLatin1String("info"));
    if (!infoValue.isObject()) {
        account.Refusal = "it has no \"info\" object";
        return account;
    }
    const QJsonObject info = infoValue.toObject();
    const std::optional<std::string> secret = TextField(info, "secret");
    const std::optional<std::string> algorithm = TextField(info, "algo");
    if (!secret || !algorithm) {
        account.Refusal = "its secret or algorithm is not text";
        return account;
    }
    if (!algorithm->empty()) {
        account.Algorithm = Utf8(FromUtf8(*algorithm).toUpper());
    }
    const std::optional<ByteVector> key = DecodeBase32(*secret);
    if (!key) {
        account.Refusal = "its secret is not valid Base32";
        return account;
    }
    account.Secret = *key;
    const char* const numberName = account.Type == "totp" ? "period" : "counter";
    const std::optional<std::uint64_t> digits = WholeNumber(info.value(QLatin1String("digits")));
    const std::optional<std::uint64_t> number = WholeNumber(info.value(QLatin1String(numberName)));
    if (!digits || !number) {
        account.Refusal = std::string("its digits or ") + numberName + " is not a whole number";
        return account;
    }
    account.Digits = *digits;
    (account.Type == "totp" ? account.Period : account.Counter) = *number;
    return account;
}

// The database object's JSON opened with the password, or a failure.
QByteArray OpenDatabase(const QJsonObject& header, const QJsonValue& db,
                        const PasswordPrompt& askPassword)
{
    const QJsonValue paramsValue = header.value(QLatin1String("params"));
    const QJsonObject params = paramsValue.toObject();
    const std::optional<ByteVector> nonce = HexField(params, "nonce", 12);
    const std::optional<ByteVector> tag = HexField(params, "tag", 16);
    if (!paramsValue.isObject() || !nonce || !tag || !db.isString()) {
        Fail("is damaged: its encryption parameters or contents are missing");
    }
    const std::optional<ByteVector> ciphertext = DecodeBase64(Utf8(db.toString()));
    if (!ciphertext) {
        Fail("is damaged: its contents are not Base64");
    }

    struct Slot
    {
        CScryptParameters Scrypt;
        ByteVector Salt;
        CSealed Key;
    };
    std::vector<Slot> keySlots;
    std::string skipped;
    for (const QJsonValue value : header.value(QLatin1String("slots")).toArray()) {
        const QJsonObject slot = value.toObject();
        if (WholeNumber(slot.value(QLatin1String("type"))) != std::uint64_t{PasswordSlot}) {
            continue;
        }
        const QJsonObject keyParams = slot.value(QLatin1String("key_params")).toObject();
        const auto n = WholeNumber(slot.value(QLatin1String("n")));
        const auto r = WholeNumber(slot.value(QLatin1String("r")));
        const auto p = WholeNumber(slot.value(QLatin1String("p")));
        const auto salt = HexField(slot, "salt", SaltLength);
        const auto key = HexField(slot, "key", MasterKeyLength);
        const auto keyNonce = HexField(keyParams, "nonce", 12);
        const auto keyTag = HexField(keyParams, "tag", 16);
        if (!n || !r || !p || !salt || !key || !keyNonce || !keyTag) {
            skipped = "its password slot is damaged";
            continue;
        }
        const CScryptParameters scrypt{*n, *r, *p};
        if (std::string refusal = ScryptParametersRefusal(scrypt); !refusal.empty()) {
            skipped = "its password slot is refused: " + refusal;
            continue;
        }
        keySlots.push_back(Slot{scrypt, *salt, CSealed{*key, *keyNonce, *keyTag}});
    }
    if (keySlots.empty()) {
        Fail(skipped.empty() ? "has no password slot" : skipped);
    }

    const std::optional<std::string> password = askPassword ? askPassword() : std::nullopt;
    if (!password) {
        Fail("is encrypted, and no password was given");
    }
    for (const Slot& slot : keySlots) {
        const ByteVector wrapping = DeriveScryptKey(*password, slot.Salt, slot.Scrypt);
        const std::optional<ByteVector> masterKey = OpenAes256Gcm(wrapping, slot.Key);
        if (!masterKey) {
            continue;
        }
        const std::optional<ByteVector> plain =
            OpenAes256Gcm(*masterKey, CSealed{*ciphertext, *nonce, *tag});
        if (!plain) {
            Fail("is damaged: its contents do not check out against their tag");
        }
        return QByteArray(reinterpret_cast<const char*>(plain->data()),
                          static_cast<qsizetype>(plain->size()));
    }
    Fail("does not open with this password (or its password slot is damaged)");
}

} // namespace

bool LooksLikeVault(const std::string& bytes)
{
    const std::size_t first = bytes.find_first_not_of(" \t\r\n");
    return first != std::string::npos && bytes[first] == '{';
}

std::vector<CAccount> ReadVault(const std::string& bytes, const PasswordPrompt& askPassword)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        Fail("is not valid JSON: " + Utf8(error.errorString()));
    }
    const QJsonObject root = document.object();
    if (WholeNumber(root.value(QLatin1String("version"))) != std::uint64_t{1}) {
        Fail("is not of version 1");
    }
    const QJsonValue headerValue = root.value(QLatin1String("header"));
    if (!headerValue.isObject()) {
        Fail("has no header");
    }
    const QJsonObject header = headerValue.toObject();
    const QJsonValue keySlots = header.value(QLatin1String("slots"));
    const QJsonValue db = root.value(QLatin1String("db"));

    QJsonObject database;
    if (keySlots.isNull()) {
        if (!db.isObject()) {
            Fail("is plain, but its \"db\" is not an object");
        }
        database = db.toObject();
    } else if (keySlots.isArray()) {
        const QByteArray plain = OpenDatabase(header, db, askPassword);
        const QJsonDocument opened = QJsonDocument::fromJson(plain, &error);
        if (error.error != QJsonParseError::NoError || !opened.isObject()) {
            Fail("is damaged: its opened contents are not a JSON object");
        }
        database = opened.object();
    } else {
        Fail("has a header whose \"slots\" is neither null nor a list");
    }

    const std::optional<std::uint64_t> version =
        WholeNumber(database.value(QLatin1String("version")));
    if (!version || *version < 1 || *version > 3) {
        Fail("holds a database version other than 1 to 3");
    }
    const QJsonValue entries = database.value(QLatin1String("entries"));
    if (!entries.isArray()) {
        Fail("has no list of entries");
    }
    std::vector<CAccount> accounts;
    for (const QJsonValue entry : entries.toArray()) {
        accounts.push_back(ReadEntry(entry));
    }
    return accounts;
}

std::string WriteVault(const std::vector<CAccount>& accounts, const std::string& password)
{
    QJsonArray entries;
    for (const CAccount& account : accounts) {
        QJsonObject info{{"secret", FromUtf8(EncodeBase32(account.Secret))},
                         {"algo", FromUtf8(account.Algorithm)},
                         {"digits", static_cast<double>(account.Digits)}};
        if (account.Type == "hotp") {
            info.insert(QLatin1String("counter"), static_cast<double>(account.Counter));
        } else {
            info.insert(QLatin1String("period"), static_cast<double>(account.Period));
        }
        entries.append(QJsonObject{{"type", FromUtf8(account.Type)},
                                   {"uuid", QUuid::createUuid().toString(QUuid::WithoutBraces)},
                                   {"name", FromUtf8(account.AccountName)},
                                   {"issuer", FromUtf8(account.Issuer)},
                                   {"note", QString()},
                                   {"icon", QJsonValue()},
                                   {"info", info}});
    }
    const QByteArray plain =
        QJsonDocument(QJsonObject{{"version", WrittenDatabaseVersion}, {"entries", entries}})
            .toJson(QJsonDocument::Compact);

    const ByteVector masterKey = RandomBytes(MasterKeyLength);
    const CSealed database = SealAes256Gcm(masterKey, ByteVector(plain.begin(), plain.end()));
    const ByteVector salt = RandomBytes(SaltLength);
    const CScryptParameters scrypt;
    const CSealed wrapped = SealAes256Gcm(DeriveScryptKey(password, salt, scrypt), masterKey);

    const QJsonObject slot{{"type", PasswordSlot},
                           {"uuid", QUuid::createUuid().toString(QUuid::WithoutBraces)},
                           {"key", FromUtf8(EncodeHex(wrapped.Ciphertext))},
                           {"key_params", QJsonObject{{"nonce", FromUtf8(EncodeHex(wrapped.Nonce))},
                                                      {"tag", FromUtf8(EncodeHex(wrapped.Tag))}}},
                           {"n", static_cast<double>(scrypt.N)},
                           {"r", static_cast<double>(scrypt.R)},
                           {"p", static_cast<double>(scrypt.P)},
                           {"salt", FromUtf8(EncodeHex(salt))}};
    const QJsonObject header{{"slots", QJsonArray{slot}},
                             {"params", QJsonObject{{"nonce", FromUtf8(EncodeHex(database.Nonce))},
                                                    {"tag", FromUtf8(EncodeHex(database.Tag))}}}};
    const QJsonObject root{
        {"version", 1}, {"header", header}, {"db", FromUtf8(EncodeBase64(database.Ciphertext))}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}
