// A row of tblToken with arbitrary values (NULLs, numbers of any size, text
// and blobs in number columns, damaged or foreign Credentials) beside a good
// token, read through ListTokens, GetAllTokens and GetToken and used by
// GetUnusableReason, ReserveCounter and GetOtp. Properties: every read answers
// without an exception; both listings agree; a row is never taken for another
// (a truncated ID finds nothing or the row that really has it); key lengths
// stay within 0..128; a press of a token that cannot compute writes nothing,
// and one that can advances the stored counter by exactly one.
#include "StorageFuzzing.h"

#include "otp/OtpToken.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Every column but the dates, in the order the input fills them.
const char InsertRow[] =
    "insert into tblToken (ID, TokenType, TokenID, Serial, Description, UserName, DomainName, "
    "Credential, AppUrl, ServiceUrl, OcraSuite, Name, Status, Digits, TwoWay, CheckSum, "
    "SyncSize, Timer, Sleep) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr int ColumnCount = 19;
constexpr int CredentialColumn = 8;
constexpr int NeighbourId = 7;

// Takes bytes from the front of the input.
struct Input
{
    const std::uint8_t* data;
    std::size_t size;

    std::uint8_t Byte()
    {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    std::int64_t Number()
    {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = value << 8 | Byte();
        }
        return static_cast<std::int64_t>(value);
    }
    std::string Text()
    {
        const std::size_t length = std::min<std::size_t>(Byte(), size);
        std::string text(reinterpret_cast<const char*>(data), length);
        data += length;
        size -= length;
        return text;
    }
};

sqlite3* Raw()
{
    static sqlite3* const handle = [] {
        sqlite3* h = nullptr;
        const std::string file = storagefuzz::Database().GetDatabasePath();
        Require(sqlite3_open(file.c_str(), &h) == SQLITE_OK);
        sqlite3_busy_timeout(h, 2000);
        sqlite3_exec(h, "pragma synchronous=off", nullptr, nullptr, nullptr);
        return h;
    }();
    return handle;
}

void Run(const char* sql)
{
    Require(sqlite3_exec(Raw(), sql, nullptr, nullptr, nullptr) == SQLITE_OK);
}

// Moves on whenever another connection commits a change to the file.
std::int64_t DataVersion()
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(Raw(), "pragma data_version", -1, &statement, nullptr);
    sqlite3_step(statement);
    const std::int64_t version = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return version;
}

// Binds one value of the kind the input chooses.
void BindValue(sqlite3_stmt* statement, int index, bool credential, Input& input)
{
    LocalDatabase& db = storagefuzz::Database();
    const int kind = input.Byte() % (credential ? 7 : 5);
    switch (kind) {
    case 0:
        sqlite3_bind_null(statement, index);
        break;
    case 1:
        sqlite3_bind_int64(statement, index, input.Number() >> (input.Byte() % 64));
        break;
    case 2: {
        double value = 0;
        const std::int64_t bits = input.Number();
        std::memcpy(&value, &bits, sizeof(value));
        sqlite3_bind_double(statement, index, value);
        break;
    }
    case 4: {
        const std::string blob = input.Text();
        sqlite3_bind_blob(statement, index, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        // A text, or the protected form of one, its last byte changed on request.
        std::string text = kind == 3 ? input.Text() : db.Encrypt(input.Text());
        if (kind != 3 && input.Byte() % 2 == 1 && text.size() > 6) {
            text[text.size() - 3] ^= 0x01;
        }
        sqlite3_bind_text(statement, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LocalDatabase& db = storagefuzz::Database();
    Run("delete from tblToken; delete from sqlite_sequence; "
        "delete from tblSystem where Name='DefaultToken'");
    COtpToken neighbour;
    neighbour.SetOtpKey(Bytes("12345678901234567890"), 20);
    neighbour.Counter = 5;
    Run(("insert into tblToken (ID, Name, Credential) values (7, 'neighbour', '" +
         db.EncodeCredential(std::make_shared<COtpToken>(neighbour)) + "')")
            .c_str());

    sqlite3_stmt* insert = nullptr;
    Require(sqlite3_prepare_v2(Raw(), InsertRow, -1, &insert, nullptr) == SQLITE_OK);
    Input input{data, size};
    for (int column = 1; column <= ColumnCount; ++column) {
        BindValue(insert, column, column == CredentialColumn, input);
    }
    const int inserted = sqlite3_step(insert);
    sqlite3_finalize(insert);
    if (inserted != SQLITE_DONE) {
        return 0; // an ID that is no integer, or the neighbour's
    }
    const std::int64_t rowId = sqlite3_last_insert_rowid(Raw());
    const bool addressable = rowId >= INT32_MIN && rowId <= INT32_MAX;

    const std::vector<TokenListing> listings = db.ListTokens();
    const std::vector<COtpTokenPtr> tokens = db.GetAllTokens();
    Require(listings.size() == tokens.size() && listings.size() == (addressable ? 2u : 1u));
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Require(listings[i].ID == tokens[i]->ID && listings[i].Name == tokens[i]->Name &&
                listings[i].Title == tokens[i]->GetDisplayName());
    }
    const int selected = db.GetDefaultToken();
    Require(selected == NeighbourId || (addressable && selected == static_cast<int>(rowId)));

    // The ID as this program would hold it, truncated when it does not fit.
    const auto id = static_cast<std::int32_t>(static_cast<std::uint64_t>(rowId));
    const COtpTokenPtr token = db.GetToken(id);
    if (!addressable) {
        Require(!token || (id == NeighbourId && token->Name == "neighbour"));
        return 0;
    }
    Require(token && token->ID == id);
    Require(token->OtpKeyLength >= 0 && token->OtpKeyLength <= 128);
    Require(token->TwoWayKeyLength >= 0 && token->TwoWayKeyLength <= 128);

    const std::int64_t before = DataVersion();
    const CCounterReservation press = db.ReserveCounter(id);
    const bool computes = token->GetUnusableReason().empty() && token->OtpKeyLength > 0;
    const bool reserves = computes && token->IsEventBased();
    Require(press.Token && press.Counter.has_value() == reserves &&
                (reserves ? *press.Counter == token->Counter &&
                                press.Token->Counter == token->Counter + 1 &&
                                db.GetToken(id)->Counter == token->Counter + 1
                          : press.Token->Counter == token->Counter && DataVersion() == before),
            "a press that did not advance the counter by one, or wrote what cannot compute");
    if (reserves) {
        Require(!press.Token->GetOtpAt(*press.Counter).first.empty(),
                "a reserved press gave no code");
    }
    Require(db.GetToken(NeighbourId)->Counter == 5);
    return 0;
}
