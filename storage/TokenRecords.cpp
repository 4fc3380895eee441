#include "storage/Base64Codec.h"
#include "storage/CredentialsAhead.h"
#include "storage/DbTransaction.h"
#include "storage/Diagnostics.h"
#include "storage/KeyringCipher.h"
#include "storage/LocalDatabase.h"
#include "storage/StatementText.h"

#include "otp/NumberText.h"
#include "otp/OtpToken.h"

#include <openssl/crypto.h>

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

// The smallest positive ID up to 2^31-1 that no row has (NULL when none is left).
const char FreeTokenIdStatement[] =
    "select min(ID) + 1 from (select 0 as ID union all select ID from tblToken "
    "where ID between 1 and 2147483646) where ID + 1 not in (select ID from tblToken)";

// The insert and update texts stay as they always were; every text value goes
// in through %q.
const char InsertTokenStatement[] =
    "insert into tblToken (\t\tTokenType, TokenID, Serial, \t\tName, Description, Credential, "
    "\t\tAppUrl, ServiceUrl, OcraSuite,\t\tUserName, DomainName, \t\tStatus, Digits, TwoWay, "
    "CheckSum, \t\tSyncSize,Timer,Sleep \t\t) values (%d, '%q', '%q', '%q', '%q',\t\t\t\t'%q', "
    "'%q', '%q', '%q',\t\t\t\t'%q', '%q',\t\t\t\t%d, %d, %d, %d, %d, %d, %d)";

const char UpdateTokenStatement[] =
    "update tblToken set \t\t\t\tTokenType=%d, TokenID='%q', Serial='%q', \t\t\t\tName='%q', "
    "Description='%q', Credential='%q', \t\t\t\tAppUrl='%q', ServiceUrl='%q', OcraSuite='%q', "
    "\t\t\t\tUserName='%q',DomainName='%q', \t\t\t\tStatus=%d, Digits=%d, TwoWay=%d, "
    "CheckSum=%d,\t\t\t\tSyncSize=%d,Timer=%d,Sleep=%d\t\t\t\twhere ID=%d";

// A batch's rows, the same columns as the insert text above, with every value
// bound: kept prepared, so that a thousand rows are not a thousand parses.
const char InsertBoundStatement[] =
    "insert into tblToken (TokenType, TokenID, Serial, Name, Description, Credential, AppUrl, "
    "ServiceUrl, OcraSuite, UserName, DomainName, Status, Digits, TwoWay, CheckSum, SyncSize, "
    "Timer, Sleep) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// The statements of the press and the reads, kept prepared by the connection.
const char SelectTokenStatement[] = "select * from tblToken where ID=?";
const char SelectAllStatement[] = "select * from tblToken";
const char ListStatement[] = "select ID, Name, Serial, DomainName, UserName from tblToken";
const char CountTokenStatement[] = "select count(*) from tblToken where ID=?";
const char UpdateCredentialStatement[] = "update tblToken set Credential=? where ID=?";
// The first row an ID of this program can name; 0 means "no token" to callers.
const char FirstTokenStatement[] =
    "select ID from tblToken where ID<>0 and ID between -2147483648 and 2147483647 limit 1";

bool FitsInt32(std::int64_t value)
{
    return value >= INT32_MIN && value <= INT32_MAX;
}

// Key bytes on their way out of a Credential, wiped afterwards.
struct KeyBuffer
{
    std::uint8_t bytes[COtpToken::MaxKeyLength] = {};
    KeyBuffer() = default;
    KeyBuffer(const KeyBuffer&) = delete;
    KeyBuffer& operator=(const KeyBuffer&) = delete;
    ~KeyBuffer() { OPENSSL_cleanse(bytes, sizeof(bytes)); }
};

// A decrypted Credential, wiped when it goes.
struct PlainText
{
    std::string text;
    ~PlainText() { OPENSSL_cleanse(text.data(), text.size()); }
};

// The Credential's plain text: Base64 of each key, and the counter.
std::string CredentialText(const COtpToken& token, std::uint64_t counter)
{
    std::string text;
    AppendBase64(text, token.TwoWayKey,
                 static_cast<std::size_t>(COtpToken::UsableKeyLength(token.TwoWayKeyLength)));
    text += ',';
    AppendBase64(text, token.OtpKey,
                 static_cast<std::size_t>(COtpToken::UsableKeyLength(token.OtpKeyLength)));
    text += ',';
    text += std::to_string(counter);
    return text;
}

// Decodes one Base64 key part; false when it holds more than a key's bytes.
bool DecodeKey(const std::string& text, std::size_t begin, std::size_t end, KeyBuffer& key,
               int& length)
{
    const std::size_t count = end - begin;
    if (Base64DecodedBound(count) <= sizeof(key.bytes)) {
        length = static_cast<int>(DecodeBase64(text.data() + begin, count, key.bytes));
        return true;
    }
    length =
        LocalDatabase::Base64Decode(text.substr(begin, count), key.bytes, COtpToken::MaxKeyLength);
    return length <= COtpToken::MaxKeyLength;
}

// The text fields in the order of the statements' %q values, with their
// column names.
struct TextColumn
{
    const char* column;
    std::string COtpToken::*field;
};
constexpr TextColumn TextColumns[] = {{"TokenID", &COtpToken::TokenID},
                                      {"Serial", &COtpToken::Serial},
                                      {"Name", &COtpToken::Name},
                                      {"Description", &COtpToken::Description},
                                      {"AppUrl", &COtpToken::AppUrl},
                                      {"ServiceUrl", &COtpToken::ServiceUrl},
                                      {"OcraSuite", &COtpToken::OcraSuite},
                                      {"UserName", &COtpToken::UserName},
                                      {"DomainName", &COtpToken::DomainName}};

void CheckStorable(const COtpToken& token, const char* operation)
{
    for (const auto& [column, field] : TextColumns) {
        RefuseZeroByte(token.*field, operation, column);
    }
}

// Runs the insert or the update statement with the token's eighteen values,
// in their column order, and its ID. Only the update's "where ID=%d" uses the
// ID; a printf-style format ignores an argument it does not ask for.
void WriteToken(CDbConnection& connection, const char* statement, const COtpToken& t,
                const std::string& credential)
{
    connection.executenonquery(
        statement, t.TokenType, t.TokenID.c_str(), t.Serial.c_str(), t.Name.c_str(),
        t.Description.c_str(), credential.c_str(), t.AppUrl.c_str(), t.ServiceUrl.c_str(),
        t.OcraSuite.c_str(), t.UserName.c_str(), t.DomainName.c_str(), t.Status, t.Digits,
        t.TwoWay ? 1 : 0, t.CheckSum ? 1 : 0, t.SyncSize, t.Timer, t.Sleep, t.ID);
}

// A number column of a row: NULL reads as 0. Anything but an integer within
// 32 bits (text, a fraction, a blob, a number beyond the range) marks the row
// damaged; a number beyond the range saturates at the nearer end rather than
// wrapping into a plausible value, and anything else reads as 0.
std::int32_t ReadNumber(CDbReader& reader, int index, bool& intact)
{
    switch (reader.getcoltype(index)) {
    case SQLITE_NULL:
        return 0;
    case SQLITE_INTEGER: {
        const std::int64_t value = reader.getint64(index);
        if (FitsInt32(value)) {
            return static_cast<std::int32_t>(value);
        }
        intact = false;
        return value < 0 ? INT32_MIN : INT32_MAX;
    }
    default:
        intact = false;
        return 0;
    }
}

} // namespace

// Column indexes of a tblToken row, found by name once per statement.
struct LocalDatabase::TokenColumns
{
    explicit TokenColumns(CDbReader& reader)
        : id(reader.columnindex("ID")), tokenType(reader.columnindex("TokenType")),
          tokenId(reader.columnindex("TokenID")), serial(reader.columnindex("Serial")),
          description(reader.columnindex("Description")), userName(reader.columnindex("UserName")),
          domainName(reader.columnindex("DomainName")),
          credential(reader.columnindex("Credential")), appUrl(reader.columnindex("AppUrl")),
          serviceUrl(reader.columnindex("ServiceUrl")), ocraSuite(reader.columnindex("OcraSuite")),
          name(reader.columnindex("Name")), status(reader.columnindex("Status")),
          digits(reader.columnindex("Digits")), twoWay(reader.columnindex("TwoWay")),
          checkSum(reader.columnindex("CheckSum")), syncSize(reader.columnindex("SyncSize")),
          timer(reader.columnindex("Timer")), sleep(reader.columnindex("Sleep"))
    {
    }

    int id, tokenType, tokenId, serial, description, userName, domainName, credential, appUrl,
        serviceUrl, ocraSuite, name, status, digits, twoWay, checkSum, syncSize, timer, sleep;
};

void LocalDatabase::SetDefaultToken(int id)
{
    SetIntValue("DefaultToken", id);
}

int LocalDatabase::GetDefaultToken()
{
    const std::int64_t selected = GetInt64Value("DefaultToken");
    if (FitsInt32(selected) && TokenExists(static_cast<int>(selected))) {
        return static_cast<int>(selected);
    }
    const int first = static_cast<int>(connection.executecached(FirstTokenStatement).scalarint64());
    if (first != 0) {
        try {
            SetDefaultToken(first);
        } catch (const std::exception& error) {
            // A read-only file still shows its tokens; the repair waits.
            if (!selectionRepairReported) {
                selectionRepairReported = true;
                ReportDiagnostic("cannot store the selected token in " + databasePath + ": " +
                                 error.what());
            }
        }
    }
    return first;
}

bool LocalDatabase::TokenExists(int id)
{
    return connection.executecached(CountTokenStatement, id).scalarint64() != 0;
}

bool LocalDatabase::DeleteToken(int id)
{
    if (!TokenExists(id)) {
        return false;
    }
    connection.executenonquery("delete from tblToken where ID=%d", id);
    return true;
}

bool LocalDatabase::SaveToken(const COtpTokenPtr& token)
{
    if (!token) {
        return false;
    }
    // A token of ID 0 is new: it never takes over a row that has that ID.
    if (token->ID != 0 && TokenExists(token->ID)) {
        return UpdateToken(token);
    }
    CheckStorable(*token, "SaveToken");
    // The row and its selection together: a failure leaves no row behind, so
    // that trying again never stores the token twice.
    CDbTransaction transaction(connection);
    RefreshProtection();
    SetDefaultToken(InsertRow(*token, false));
    transaction.commit();
    return true;
}

std::vector<int> LocalDatabase::InstallTokens(const std::vector<COtpTokenPtr>& tokens)
{
    for (const COtpTokenPtr& token : tokens) {
        if (!token) {
            throw std::invalid_argument("InstallTokens: no token");
        }
        CheckStorable(*token, "InstallTokens");
    }
    std::vector<int> ids;
    ids.reserve(tokens.size());
    // Started on the mode last read, so that the first values are ready by
    // the time the transaction has begun; dropped should another program
    // have switched the store to the keyring meanwhile.
    std::optional<CredentialsAhead> ahead;
    if (keyringStore.empty() && CredentialsAhead::IsWorthwhile(tokens.size())) {
        try {
            ahead.emplace(*this, tokens);
        } catch (const std::system_error&) {
            // No thread to be had: every value is encrypted here instead.
        }
    }
    CDbTransaction transaction(connection);
    RefreshProtection();
    if (!keyringStore.empty()) {
        ahead.reset();
    }
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string credential = ahead ? ahead->Take(i) : std::string();
        ids.push_back(InsertRow(*tokens[i], true, ahead ? &credential : nullptr));
    }
    transaction.commit();
    return ids;
}

int LocalDatabase::InsertRow(const COtpToken& t, bool bound, const std::string* encrypted)
{
    // A keyring value is bound to its row, whose ID is known only once the
    // row is in: it gets its Credential below, in the same transaction.
    const bool bindLater = !keyringStore.empty();
    const bool given = encrypted != nullptr && !bindLater;
    const std::string made = bindLater || given ? std::string() : EncodeSecret(t, t.Counter);
    const std::string& credential = given ? *encrypted : made;
    if (bound) {
        connection
            .executecached(InsertBoundStatement, t.TokenType, t.TokenID, t.Serial, t.Name,
                           t.Description, credential, t.AppUrl, t.ServiceUrl, t.OcraSuite,
                           t.UserName, t.DomainName, t.Status, t.Digits, t.TwoWay ? 1 : 0,
                           t.CheckSum ? 1 : 0, t.SyncSize, t.Timer, t.Sleep)
            .nonquery();
    } else {
        WriteToken(connection, InsertTokenStatement, t, credential);
    }
    std::int64_t id = connection.insertid();
    if (id == 0 || !FitsInt32(id)) {
        // Another program stored a row beyond 32 bits, so the automatic IDs
        // that follow it cannot be used either: move the row to a free one.
        const std::int64_t free = connection.executecached(FreeTokenIdStatement).scalarint64();
        if (free < 1 || !FitsInt32(free)) {
            throw std::runtime_error("SaveToken: no free token ID is left; no token was stored");
        }
        connection.executecached("update tblToken set ID=? where ID=?", free, id).nonquery();
        id = free;
    }
    if (bindLater) {
        COtpToken stored = t;
        stored.ID = static_cast<std::int32_t>(id);
        connection.executecached(UpdateCredentialStatement, EncodeSecret(stored, t.Counter), id)
            .nonquery();
    }
    return static_cast<int>(id);
}

bool LocalDatabase::UpdateToken(const COtpTokenPtr& token)
{
    if (!token) {
        return false;
    }
    CheckStorable(*token, "UpdateToken");
    // The mode read and the value written under one lock: a switch by another
    // program cannot come between them.
    CDbTransaction transaction(connection);
    RefreshProtection();
    WriteToken(connection, UpdateTokenStatement, *token, EncodeCredential(token));
    transaction.commit();
    return true;
}

CCounterReservation LocalDatabase::ReserveCounter(int id)
{
    CDbTransaction transaction(connection);
    RefreshProtection();
    CDbReader reader = connection.executecached(SelectTokenStatement, id);
    if (!reader.read()) {
        return CCounterReservation();
    }
    bool intact = true;
    CCounterReservation press{ReadRow(reader, TokenColumns(reader), intact), std::nullopt};
    reader.close();
    COtpToken& token = *press.Token;
    // Nothing is written for a token that cannot compute: its row stays as
    // another client (or damage) left it, and no counter is consumed.
    if (intact && token.IsEventBased() && token.GetUnusableReason().empty()) {
        const std::uint64_t counter = token.Counter;
        const int changed =
            connection
                .executecached(UpdateCredentialStatement, EncodeSecret(token, counter + 1), id)
                .nonquery();
        if (changed != 1) {
            throw std::runtime_error("ReserveCounter: the token's row was not updated");
        }
        transaction.commit();
        token.Counter = counter + 1;
        press.Counter = counter;
    }
    return press;
}

std::string LocalDatabase::EncodeCredential(const COtpTokenPtr& token)
{
    if (!token) {
        throw std::invalid_argument("EncodeCredential: no token");
    }
    return EncodeSecret(*token, token->Counter);
}

std::string LocalDatabase::EncodeSecret(const COtpToken& token, std::uint64_t counter) const
{
    const PlainText plain{CredentialText(token, counter)};
    return ProtectSecret(plain.text, CredentialBinding(token.ID));
}

std::string LocalDatabase::EncodeFileCredential(CipherContexts& contexts,
                                                const COtpToken& token) const
{
    const PlainText plain{CredentialText(token, token.Counter)};
    return EncryptWith(contexts, plain.text);
}

void LocalDatabase::DecodeCredential(const std::string& text, COtpTokenPtr& token)
{
    if (token) {
        DecodeSecret(text, *token);
    }
}

bool LocalDatabase::DecodeSecret(const std::string& text, COtpToken& token) const
{
    std::optional<std::string> decrypted = OpenSecret(text, CredentialBinding(token.ID));
    if (!decrypted) {
        return false;
    }
    PlainText plain{std::move(*decrypted)};
    // Exactly three parts: two keys and the counter.
    const std::string& parts = plain.text;
    const std::size_t first = parts.find(',');
    const std::size_t second = first == std::string::npos ? first : parts.find(',', first + 1);
    if (second == std::string::npos || parts.find(',', second + 1) != std::string::npos) {
        return false;
    }
    KeyBuffer twoWayKey;
    KeyBuffer otpKey;
    int twoWayLength = 0;
    int otpLength = 0;
    if (!DecodeKey(parts, 0, first, twoWayKey, twoWayLength) ||
        !DecodeKey(parts, first + 1, second, otpKey, otpLength)) {
        return false; // a key part longer than any key: not a Credential of this program
    }
    std::uint64_t counter = 0;
    try {
        counter = ParseUInt64(parts.substr(second + 1));
    } catch (const ConversionError&) {
        return false; // "+5", "12a", a number beyond 64 bits: never a guess
    }
    token.SetTwoWayKey(twoWayKey.bytes, twoWayLength);
    token.SetOtpKey(otpKey.bytes, otpLength);
    token.Counter = counter;
    return true;
}

COtpTokenPtr LocalDatabase::ReadRow(CDbReader& reader, const TokenColumns& columns, bool& intact)
{
    const std::int64_t id = reader.getint64(columns.id);
    if (!FitsInt32(id)) {
        intact = false;
        return COtpTokenPtr();
    }
    COtpTokenPtr token = std::make_shared<COtpToken>();
    COtpToken& t = *token;
    t.ID = static_cast<std::int32_t>(id);
    t.TokenType = ReadNumber(reader, columns.tokenType, intact);
    t.TokenID = reader.getstring(columns.tokenId);
    t.Serial = reader.getstring(columns.serial);
    t.Description = reader.getstring(columns.description);
    t.UserName = reader.getstring(columns.userName);
    t.DomainName = reader.getstring(columns.domainName);
    t.AppUrl = reader.getstring(columns.appUrl);
    t.ServiceUrl = reader.getstring(columns.serviceUrl);
    t.OcraSuite = reader.getstring(columns.ocraSuite);
    t.Name = reader.getstring(columns.name);
    t.Status = ReadNumber(reader, columns.status, intact);
    t.Digits = ReadNumber(reader, columns.digits, intact);
    t.TwoWay = ReadNumber(reader, columns.twoWay, intact) != 0;
    t.CheckSum = ReadNumber(reader, columns.checkSum, intact) != 0;
    t.SyncSize = ReadNumber(reader, columns.syncSize, intact);
    t.Timer = ReadNumber(reader, columns.timer, intact);
    t.Sleep = ReadNumber(reader, columns.sleep, intact);
    // The secret of a row misread elsewhere is not loaded: its key lengths stay
    // 0, so it computes no code and storage never writes it back.
    if (intact && !DecodeSecret(reader.getstring(columns.credential), t)) {
        intact = false;
    }
    return token;
}

COtpTokenPtr LocalDatabase::ReadToken(CDbReader& reader)
{
    bool intact = true;
    return ReadRow(reader, TokenColumns(reader), intact);
}

COtpTokenPtr LocalDatabase::GetToken(int id)
{
    RefreshProtection();
    CDbReader reader = connection.executecached(SelectTokenStatement, id);
    if (!reader.read()) {
        return COtpTokenPtr();
    }
    return ReadToken(reader);
}

void LocalDatabase::ReportUnaddressable(std::int64_t id)
{
    if (!unaddressableReported) {
        unaddressableReported = true;
        ReportDiagnostic("the token row " + std::to_string(id) + " in " + databasePath +
                         " is left out: its ID does not fit in 32 bits");
    }
}

std::vector<TokenListing> LocalDatabase::ListTokens()
{
    std::vector<TokenListing> listings;
    CDbReader reader = connection.executecached(ListStatement);
    while (reader.read()) {
        const std::int64_t id = reader.getint64(0);
        if (!FitsInt32(id)) {
            ReportUnaddressable(id);
            continue;
        }
        // The title as COtpToken::GetDisplayName() gives it for a stored row.
        COtpToken identity;
        identity.Name = reader.getstring(1);
        identity.Serial = reader.getstring(2);
        identity.DomainName = reader.getstring(3);
        identity.UserName = reader.getstring(4);
        std::string title = identity.GetDisplayName();
        listings.push_back(TokenListing{static_cast<std::int32_t>(id), std::move(title),
                                        std::move(identity.Name), std::move(identity.Serial),
                                        std::move(identity.DomainName),
                                        std::move(identity.UserName)});
    }
    return listings;
}

std::vector<COtpTokenPtr> LocalDatabase::GetAllTokens()
{
    std::vector<COtpTokenPtr> tokens;
    RefreshProtection();
    CDbReader reader = connection.executecached(SelectAllStatement);
    std::optional<TokenColumns> columns;
    while (reader.read()) {
        if (!columns) {
            // Found after the first step, which may have re-prepared the statement.
            columns.emplace(reader);
        }
        bool intact = true;
        COtpTokenPtr token = ReadRow(reader, *columns, intact);
        if (token) {
            tokens.push_back(std::move(token));
        } else {
            ReportUnaddressable(reader.getint64(columns->id));
        }
    }
    return tokens;
}
