#include "interop/MigrationPayload.h"

#include "interop/Interchange.h"
#include "interop/KeyUri.h"
#include "interop/UriQuery.h"

#include <cstdint>
#include <optional>

namespace {

enum WireType : std::uint32_t { Varint = 0, Fixed64 = 1, LengthDelimited = 2, Fixed32 = 5 };

// One field of a protobuf message: its number, wire type and value.
struct CField
{
    std::uint64_t Number = 0;
    std::uint32_t Wire = 0;
    std::uint64_t Value = 0;            // Varint
    const std::uint8_t* Data = nullptr; // LengthDelimited
    std::size_t Length = 0;
};

// Reads the fields of one message in order; every length is checked against
// what is left before it is used, so no input reads past its end.
class CFieldReader
{
public:
    CFieldReader(const std::uint8_t* data, std::size_t length) : at(data), end(data + length) {}

    // The next field, or nullopt at the end; throws on a malformed field.
    std::optional<CField> Next()
    {
        if (at == end) {
            return std::nullopt;
        }
        const std::uint64_t tag = ReadVarint();
        CField field;
        field.Number = tag >> 3;
        field.Wire = static_cast<std::uint32_t>(tag & 7U);
        if (field.Number == 0) {
            Fail("a field numbered 0");
        }
        switch (field.Wire) {
        case Varint:
            field.Value = ReadVarint();
            break;
        case Fixed64:
            Skip(8);
            break;
        case Fixed32:
            Skip(4);
            break;
        case LengthDelimited: {
            const std::uint64_t length = ReadVarint();
            if (length > static_cast<std::uint64_t>(end - at)) {
                Fail("a field longer than the data left");
            }
            field.Data = at;
            field.Length = static_cast<std::size_t>(length);
            at += field.Length;
            break;
        }
        default:
            Fail("a field of unknown wire type " + std::to_string(field.Wire));
        }
        return field;
    }

private:
    [[noreturn]] static void Fail(const std::string& what)
    {
        throw CInterchangeError("the migration payload is damaged: " + what);
    }

    std::uint64_t ReadVarint()
    {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at == end) {
                Fail("it ends inside a number");
            }
            const std::uint8_t byte = *at++;
            value |= static_cast<std::uint64_t>(byte & 0x7FU) << shift;
            if ((byte & 0x80U) == 0) {
                return value;
            }
        }
        Fail("a number longer than ten bytes");
    }

    void Skip(std::size_t count)
    {
        if (count > static_cast<std::size_t>(end - at)) {
            Fail("it ends inside a field");
        }
        at += count;
    }

    const std::uint8_t* at;
    const std::uint8_t* end;
};

void Expect(const CField& field, std::uint32_t wire, const char* name)
{
    if (field.Wire != wire) {
        throw CInterchangeError(std::string("the migration payload is damaged: its ") + name +
                                " has the wrong wire type");
    }
}

CAccount DecodeParameters(const std::uint8_t* data, std::size_t length)
{
    CAccount account;
    std::uint64_t algorithm = 0;
    std::uint64_t digits = 0;
    std::uint64_t type = 0;
    CFieldReader reader(data, length);
    while (const std::optional<CField> field = reader.Next()) {
        switch (field->Number) {
        case 1:
            Expect(*field, LengthDelimited, "secret");
            account.Secret.assign(field->Data, field->Data + field->Length);
            break;
        case 2:
            Expect(*field, LengthDelimited, "name");
            account.AccountName.assign(reinterpret_cast<const char*>(field->Data), field->Length);
            break;
        case 3:
            Expect(*field, LengthDelimited, "issuer");
            account.Issuer.assign(reinterpret_cast<const char*>(field->Data), field->Length);
            break;
        case 4:
            Expect(*field, Varint, "algorithm");
            algorithm = field->Value;
            break;
        case 5:
            Expect(*field, Varint, "digit count");
            digits = field->Value;
            break;
        case 6:
            Expect(*field, Varint, "type");
            type = field->Value;
            break;
        case 7:
            Expect(*field, Varint, "counter");
            account.Counter = field->Value;
            break;
        default:
            break; // fields added later say nothing we compute with
        }
    }

    // The name is read as a Key URI's label: it often has the form "issuer:account".
    std::string issuer;
    issuer.swap(account.Issuer);
    ApplyLabel(account, account.AccountName, issuer);

    static const char* const Algorithms[] = {"SHA1", "SHA1", "SHA256", "SHA512", "MD5"};
    if (algorithm < 5) {
        account.Algorithm = Algorithms[algorithm];
    } else {
        account.Algorithm = "algorithm " + std::to_string(algorithm);
    }
    static const char* const Types[] = {"totp", "hotp", "totp"};
    if (type < 3) {
        account.Type = Types[type];
    } else {
        account.Type = "type " + std::to_string(type);
    }
    if (digits == 0 || digits == 1) {
        account.Digits = 6;
    } else if (digits == 2) {
        account.Digits = 8;
    } else {
        account.Refusal = "its digit count code " + std::to_string(digits) + " is unknown";
    }
    if (type == 2 || type == 0) {
        account.Period = 30;
    }
    if (account.Secret.empty() && account.Refusal.empty()) {
        account.Refusal = "it has no secret";
    }
    return account;
}

} // namespace

std::vector<CAccount> DecodeMigrationPayload(const ByteVector& payload)
{
    if (payload.size() > MaxMigrationPayloadLength) {
        throw CInterchangeError("the migration payload is larger than " +
                                std::to_string(MaxMigrationPayloadLength) + " bytes");
    }
    std::vector<CAccount> accounts;
    CFieldReader reader(payload.data(), payload.size());
    while (const std::optional<CField> field = reader.Next()) {
        if (field->Number == 1) {
            Expect(*field, LengthDelimited, "account");
            accounts.push_back(DecodeParameters(field->Data, field->Length));
        }
    }
    return accounts;
}

std::vector<CAccount> ReadMigrationUri(const std::string& uri)
{
    if (!HasScheme(uri, "otpauth-migration")) {
        throw CInterchangeError("it is not an otpauth-migration:// URI");
    }
    const std::size_t question = uri.find('?');
    CUriQuery query;
    if (question == std::string::npos) {
        throw CInterchangeError("the migration URI has no data");
    }
    // "+" is a Base64 letter here; a blank is one that was decoded as a blank.
    if (std::string refusal = query.Parse(uri.substr(question + 1), false); !refusal.empty()) {
        throw CInterchangeError("the migration URI: " + refusal);
    }
    const std::string* data = query.Find("data");
    if (data == nullptr || data->empty()) {
        throw CInterchangeError("the migration URI has no data");
    }
    std::string text = *data;
    for (char& c : text) {
        if (c == ' ') {
            c = '+';
        }
    }
    const std::optional<ByteVector> payload = DecodeBase64(text);
    if (!payload) {
        throw CInterchangeError("the migration URI's data is not Base64");
    }
    return DecodeMigrationPayload(*payload);
}
