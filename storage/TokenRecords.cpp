#include "storage/LocalDatabase.h"

#include "otp/NumberText.h"
#include "otp/OtpToken.h"
#include "otp/TextParts.h"

#include <openssl/crypto.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

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

// Key bytes on their way out of a Credential, wiped afterwards.
struct KeyBuffer
{
    std::uint8_t bytes[COtpToken::MaxKeyLength] = {};
    KeyBuffer() = default;
    KeyBuffer(const KeyBuffer&) = delete;
    KeyBuffer& operator=(const KeyBuffer&) = delete;
    ~KeyBuffer() { OPENSSL_cleanse(bytes, sizeof(bytes)); }
};

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

} // namespace

void LocalDatabase::SetDefaultToken(int id)
{
    SetIntValue("DefaultToken", id);
}

int LocalDatabase::GetDefaultToken()
{
    const int id = GetIntValue("DefaultToken");
    if (TokenExists(id)) {
        return id;
    }
    const int first = connection.executeint32("select ID from tblToken limit 1");
    if (first != 0) {
        SetDefaultToken(first);
    }
    return first;
}

bool LocalDatabase::TokenExists(int id)
{
    return connection.executeint32("select count(*) from tblToken where ID=%d", id) != 0;
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
    if (TokenExists(token->ID)) {
        return UpdateToken(token);
    }
    WriteToken(connection, InsertTokenStatement, *token, EncodeCredential(token));
    SetDefaultToken(static_cast<int>(connection.insertid()));
    return true;
}

bool LocalDatabase::UpdateToken(const COtpTokenPtr& token)
{
    if (!token) {
        return false;
    }
    WriteToken(connection, UpdateTokenStatement, *token, EncodeCredential(token));
    return true;
}

COtpTokenPtr LocalDatabase::ReserveCounter(int id)
{
    connection.executenonquery("begin immediate");
    try {
        const COtpTokenPtr token = GetToken(id);
        if (token && token->OtpKeyLength != 0) {
            const COtpTokenPtr advanced = std::make_shared<COtpToken>(*token);
            advanced->Counter = token->Counter + 1;
            UpdateToken(advanced);
        }
        connection.executenonquery("commit");
        return token;
    } catch (...) {
        RollBack();
        throw;
    }
}

std::string LocalDatabase::EncodeCredential(const COtpTokenPtr& token)
{
    if (!token) {
        throw std::invalid_argument("EncodeCredential: no token");
    }
    const std::string plain =
        Base64Encode(token->TwoWayKey, COtpToken::UsableKeyLength(token->TwoWayKeyLength)) + "," +
        Base64Encode(token->OtpKey, COtpToken::UsableKeyLength(token->OtpKeyLength)) + "," +
        std::to_string(token->Counter);
    return Encrypt(plain);
}

void LocalDatabase::DecodeCredential(const std::string& text, COtpTokenPtr& token)
{
    if (!token) {
        return;
    }
    const std::vector<std::string> parts = SplitAt(Decrypt(text), ',');
    if (parts.size() != 3) {
        return;
    }
    KeyBuffer twoWayKey;
    KeyBuffer otpKey;
    const int twoWayLength = Base64Decode(parts[0], twoWayKey.bytes, COtpToken::MaxKeyLength);
    const int otpLength = Base64Decode(parts[1], otpKey.bytes, COtpToken::MaxKeyLength);
    if (twoWayLength > COtpToken::MaxKeyLength || otpLength > COtpToken::MaxKeyLength) {
        // Not a Credential this program wrote: treat it as unreadable.
        return;
    }
    // Throws ConversionError before anything of the token has changed.
    const std::uint64_t counter = ParseUInt64(parts[2]);
    token->SetTwoWayKey(twoWayKey.bytes, twoWayLength);
    token->SetOtpKey(otpKey.bytes, otpLength);
    token->Counter = counter;
}

COtpTokenPtr LocalDatabase::ReadToken(CDbReader& reader)
{
    COtpTokenPtr token = std::make_shared<COtpToken>();
    token->ID = reader.getint32("ID");
    token->TokenType = reader.getint32("TokenType");
    token->TokenID = reader.getstring("TokenID");
    token->Serial = reader.getstring("Serial");
    token->Description = reader.getstring("Description");
    token->UserName = reader.getstring("UserName");
    token->DomainName = reader.getstring("DomainName");
    DecodeCredential(reader.getstring("Credential"), token);
    token->AppUrl = reader.getstring("AppUrl");
    token->ServiceUrl = reader.getstring("ServiceUrl");
    token->OcraSuite = reader.getstring("OcraSuite");
    token->Name = reader.getstring("Name");
    token->Status = reader.getint32("Status");
    token->Digits = reader.getint32("Digits");
    token->TwoWay = reader.getint32("TwoWay") != 0;
    token->CheckSum = reader.getint32("CheckSum") != 0;
    token->SyncSize = reader.getint32("SyncSize");
    token->Timer = reader.getint32("Timer");
    token->Sleep = reader.getint32("Sleep");
    return token;
}

COtpTokenPtr LocalDatabase::GetToken(int id)
{
    CDbReader reader = connection.executereader("select * from tblToken where ID=%d", id);
    if (reader.read()) {
        return ReadToken(reader);
    }
    return COtpTokenPtr();
}

std::vector<TokenListing> LocalDatabase::ListTokens()
{
    std::vector<TokenListing> listings;
    for (const COtpTokenPtr& token : GetAllTokens()) {
        listings.push_back(TokenListing{token->ID, token->GetDisplayName(), token->Name,
                                        token->Serial, token->DomainName, token->UserName});
    }
    return listings;
}

std::vector<COtpTokenPtr> LocalDatabase::GetAllTokens()
{
    std::vector<COtpTokenPtr> tokens;
    CDbReader reader = connection.executereader("select * from tblToken");
    while (reader.read()) {
        tokens.push_back(ReadToken(reader));
    }
    reader.close();
    return tokens;
}
