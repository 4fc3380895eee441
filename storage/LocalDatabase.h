#pragma once

#include "otp/OtpToken.h"
#include "storage/DbConnection.h"
#include "storage/TokenListing.h"

#include <cstdint>
#include <string>
#include <vector>

typedef struct evp_cipher_st EVP_CIPHER;

// The one persistent store: the installed tokens (tblToken), the selected
// token and the PIN hash (tblSystem), in one SQLite file per user. Secret
// values (each token's keys and counter, the PIN hash) are kept only in the
// protected "enc:" form.
//
// Unless said otherwise, an operation that meets an SQL failure raises the
// access layer's exception (std::runtime_error or std::out_of_range).
class LocalDatabase
{
public:
    // The PIN stored with a new database; a store holding it counts as having no PIN.
    static const char* const DefaultPin;

    // The database of the user running the process: the home directory from the
    // password database, then "/.velmora" and "/velmora.db".
    LocalDatabase();
    // A database in the given directory (its "/velmora.db"); for tests and tools.
    explicit LocalDatabase(const std::string& directory);
    LocalDatabase(const LocalDatabase&) = delete;
    LocalDatabase& operator=(const LocalDatabase&) = delete;
    virtual ~LocalDatabase();

    // Construction never throws: a failure to open is recorded here instead.
    bool IsOpen() const;
    // Why opening failed, naming the database path; empty when it is open.
    const std::string& GetOpenError() const;
    // The database file's path ("" when the home directory is unknown).
    const std::string& GetDatabasePath() const;

    // Settings of tblSystem, found by name without regard to case.
    std::string GetStringValue(const std::string& name);
    int GetIntValue(const std::string& name);
    int SetStringValue(const std::string& name, const std::string& value);
    int SetIntValue(const std::string& name, int value);

    // The selected token's ID, falling back to (and storing) the first stored
    // token when the selection names none; 0 when no token is installed.
    int GetDefaultToken();
    void SetDefaultToken(int id);

    bool TokenExists(int id);
    // The stored token, or an empty pointer when no row has that ID. A row
    // whose Credential holds a counter that is no number raises ConversionError.
    COtpTokenPtr GetToken(int id);
    // Every stored token, in table row order (ConversionError as GetToken).
    std::vector<COtpTokenPtr> GetAllTokens();
    // The identity of every stored token, in table row order, without reading
    // any secret: for the token menu and the token list.
    std::vector<TokenListing> ListTokens();
    // Rewrites the row of a token whose ID exists, else inserts a new row and
    // selects it (the object's ID stays as it is). False for an empty pointer.
    bool SaveToken(const COtpTokenPtr& token);
    // Rewrites the row with the token's ID. False for an empty pointer.
    bool UpdateToken(const COtpTokenPtr& token);
    // False, changing nothing, when no row has that ID.
    bool DeleteToken(int id);

    // For a press of an event-based token: in one transaction, loads the token
    // and stores its counter advanced by one. Returns the token as loaded, so
    // that its next GetOtp() uses the reserved counter value and leaves the
    // object agreeing with the store. A token whose secret cannot be read
    // (OtpKeyLength 0) is returned without writing anything; an empty pointer
    // when no row has that ID. On any failure the transaction is rolled back and
    // the error raised; a lock held by another connection fails at once.
    COtpTokenPtr ReserveCounter(int id);

    // Stores the protected SHA-1 hash of the PIN.
    bool SetPin(const std::string& pin);
    // True when the PIN's hash matches the stored one.
    bool CheckPin(const std::string& pin);
    // True when the stored PIN is not the default one.
    bool IsPinSet();

    // Secret protection: Base64, the cipher table, and the "enc:" form.
    static std::string Base64Encode(const std::uint8_t* data, int length);
    // Decodes tolerantly; copies at most max bytes and returns the decoded length.
    static int Base64Decode(const std::string& text, std::uint8_t* out, int max);
    static const EVP_CIPHER* GetCipher(int algorithm, int mode);
    // "enc:" + Base64 of the triple-DES ciphertext; a protected text comes back as it is.
    // Throws std::runtime_error only when OpenSSL cannot run the cipher.
    std::string Encrypt(const std::string& plain) const;
    // The protected text's bytes; a text without "enc:" comes back as it is. A
    // value whose last block does not check out gives the bytes before that
    // block, without error. Throws std::runtime_error only when OpenSSL cannot
    // run the cipher.
    std::string Decrypt(const std::string& text) const;

    // Building blocks, public for tests.
    bool Open();
    bool CreateTables();
    std::string GetHomePath();
    COtpTokenPtr ReadToken(CDbReader& reader);
    std::string EncodeCredential(const COtpTokenPtr& token);
    void DecodeCredential(const std::string& text, COtpTokenPtr& token);

private:
    // Gives protectionKey its fixed content.
    void LoadProtectionKey();
    // Opens the file in `directory` and prepares it; records a failure in openError.
    void Start();
    // Creates the missing tables; true when tblToken was created. Throws on SQL failure.
    bool CreateSchema();
    // Ends the open transaction, if any; a failure is ignored (the caller is
    // already reporting the error that made it roll back).
    void RollBack() noexcept;

    CDbConnection connection;
    std::uint8_t protectionKey[20];
    std::string directory;
    std::string databasePath;
    std::string openError;
};

// The program's one database. Declared here, defined by each program: the
// application on the user's home directory, test programs on a temporary one.
extern LocalDatabase g_localDatabase;
