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

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using storagefuzz::Require;

namespace {

const char* const Columns[] = {"ID",        "TokenType",  "TokenID",    "Serial", "Description",
                               "UserName",  "DomainName", "Credential", "AppUrl", "ServiceUrl",
                               "OcraSuite", "Name",       "Status",     "Digits", "TwoWay",
                               "CheckSum",  "SyncSize",   "Timer",      "Sleep"};
constexpr int ColumnCount = sizeof(Columns) / sizeof(Columns[0]);
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
        const std::size_t wanted = Byte();
        const std::size_t length = wanted < size ? wanted : size;
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

// The row's values as SQLite stores them, Credential included.
std::string RowText(std::int64_t id)
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(Raw(),
                       "select quote(TokenType)||quote(Credential)||quote(Name) from tblToken "
                       "where ID=?",
                       -1, &statement, nullptr);
    sqlite3_bind_int64(statement, 1, id);
    std::string text;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    return text;
}

// Binds one value of the kind the input chooses.
void BindValue(sqlite3_stmt* statement, int index, bool credential, Input& input)
{
    LocalDatabase& db = storagefuzz::Database();
    switch (input.Byte() % (credential ? 7 : 5)) {
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
    case 3: {
        const std::string text = input.Text();
        sqlite3_bind_text(statement, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
        break;
    }
    case 4: {
        const std::string blob = input.Text();
        sqlite3_bind_blob(statement, index, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        // The protected form of a text, its last byte changed on request.
        std::string text = db.Encrypt(input.Text());
        if (input.Byte() % 2 == 1 && text.size() > 6) {
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
    {
        COtpToken neighbour;
        neighbour.Name = "neighbour";
        neighbour.SetOtpKey(reinterpret_cast<const std::uint8_t*>("12345678901234567890"), 20);
        neighbour.Counter = 5;
        const std::string credential = db.EncodeCredential(std::make_shared<COtpToken>(neighbour));
        const std::string sql =
            "insert into tblToken (ID, Name, Credential) values (7, 'neighbour', '" + credential +
            "')";
        Run(sql.c_str());
    }

    std::string sql = "insert into tblToken (";
    for (int i = 0; i < ColumnCount; ++i) {
        sql += std::string(i == 0 ? "" : ",") + Columns[i];
    }
    sql += ") values (?";
    for (int i = 1; i < ColumnCount; ++i) {
        sql += ",?";
    }
    sql += ")";
    sqlite3_stmt* insert = nullptr;
    Require(sqlite3_prepare_v2(Raw(), sql.c_str(), -1, &insert, nullptr) == SQLITE_OK);
    Input input{data, size};
    for (int i = 0; i < ColumnCount; ++i) {
        BindValue(insert, i + 1, std::strcmp(Columns[i], "Credential") == 0, input);
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

    const std::string before = RowText(rowId);
    const COtpTokenPtr reserved = db.ReserveCounter(id);
    Require(reserved && reserved->Counter == token->Counter);
    const bool computes = token->GetUnusableReason().empty() && token->OtpKeyLength > 0;
    if (computes && token->IsEventBased()) {
        Require(db.GetToken(id)->Counter == token->Counter + 1);
        reserved->GetOtp();
    } else {
        Require(RowText(rowId) == before);
        if (computes) {
            reserved->GetOtp();
        }
    }
    Require(db.GetToken(NeighbourId)->Counter == 5);
    return 0;
}
