#pragma once

#include "otp/OtpToken.h"
#include "storage/DbConnection.h"
#include "storage/TokenListing.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct evp_cipher_st EVP_CIPHER;

class CStoreKey;
class CStoreKeyProvider;

// What one press of a token leaves: the token as stored, and the counter its
// code is computed for when the press reserved one.
struct CCounterReservation
{
    COtpTokenPtr Token;
    std::optional<std::uint64_t> Counter;
};

// The one persistent store: the installed tokens (tblToken), the selected
// token and the PIN hash (tblSystem), in one SQLite file per user. Secret
// values (each token's keys and counter, the PIN hash) are kept only in the
// protected "enc:" form, or, in keyring mode, only in the "kr1:" form under a
// store key kept in the desktop keyring (CStoreKey).
//
// Unless said otherwise, an operation that meets an SQL failure raises the
// access layer's exception (std::runtime_error or std::out_of_range). A lock
// of another connection is waited for up to CDbConnection's busy timeout.
//
// A row's content never makes a read throw: a row that this program cannot
// read whole (a Credential that does not decode, a number column holding text,
// a fraction or a value beyond 32 bits) comes back with both key lengths 0, so
// that COtpToken::GetUnusableReason() refuses it, and storage never writes it
// back. A row whose ID is beyond 32 bits cannot be addressed and is left out.
//
// One thread per instance: the cipher contexts and kept statements are shared
// by its calls.
class LocalDatabase
{
public:
    // The PIN stored with a new database; a store holding it counts as having no PIN.
    static const char* const DefaultPin;

    // The database of the user running the process: the home directory from the
    // password database, then "/.velmora" and "/velmora.db". Never throws (the
    // program's instance is built before main): a failure is kept for IsOpen().
    LocalDatabase() noexcept;
    // A database in the given directory (its "/velmora.db"); for tests and tools.
    explicit LocalDatabase(const std::string& directory) noexcept;
    LocalDatabase(const LocalDatabase&) = delete;
    LocalDatabase& operator=(const LocalDatabase&) = delete;
    virtual ~LocalDatabase();

    // Construction never throws: a failure to open or to prepare the tables is
    // recorded here instead, the connection is closed, and whatever this start
    // created (directory, file, journal) is removed again.
    bool IsOpen() const;
    // Why the start failed, one line naming the database path; empty when open.
    const std::string& GetOpenError() const;
    // The database file's path ("" when the home directory is unknown).
    const std::string& GetDatabasePath() const;
    // How long a statement waits for another connection's lock before it fails
    // (CDbConnection::BusyTimeoutMilliseconds unless changed); a seam for tests
    // that fail storage with a lock and need not wait.
    void SetBusyTimeout(int milliseconds);

    // Settings of tblSystem, found by name without regard to case. An integer
    // beyond 32 bits reads as the nearest end of the range.
    // Whether tblSystem has a row of that name.
    bool HasValue(const std::string& name);
    std::string GetStringValue(const std::string& name);
    int GetIntValue(const std::string& name);
    int SetStringValue(const std::string& name, const std::string& value);
    int SetIntValue(const std::string& name, int value);

    // The selected token's ID, falling back to (and storing) the first stored
    // token when the selection names none; 0 when no token is installed. A
    // fallback that cannot be stored (read-only file) is reported once on
    // standard error and still returned.
    int GetDefaultToken();
    void SetDefaultToken(int id);

    bool TokenExists(int id);
    // The stored token, or an empty pointer when no row has that ID.
    COtpTokenPtr GetToken(int id);
    // Every stored token, in table row order.
    std::vector<COtpTokenPtr> GetAllTokens();
    // The identity of every stored token, in table row order, without reading
    // any secret: for the token menu and the token list.
    std::vector<TokenListing> ListTokens();
    // Rewrites the row of a token whose ID is not 0 and exists; else inserts a
    // new row and selects it, in one transaction (the object's ID stays as it
    // is). False for an empty pointer. Throws std::invalid_argument for a text
    // field holding a zero byte (the statement cannot carry it), and
    // std::runtime_error when the new row's ID would not fit in 32 bits.
    bool SaveToken(const COtpTokenPtr& token);
    // Rewrites the row with the token's ID. False for an empty pointer; throws
    // std::invalid_argument as SaveToken.
    bool UpdateToken(const COtpTokenPtr& token);
    // False, changing nothing, when no row has that ID.
    bool DeleteToken(int id);

    // One press of an event-based token, in one transaction ("begin
    // immediate"): loads the token, stores its counter advanced by one (the
    // Credential column alone) and hands back the counter the press's code is
    // to be computed for (COtpToken::GetOtpAt), with the token as now stored.
    // A token that cannot compute (GetUnusableReason() not empty, a damaged
    // row) or is not event-based comes back as loaded, without a counter and
    // without writing anything; no token when no row has that ID. On any
    // failure the transaction is rolled back and the error raised.
    CCounterReservation ReserveCounter(int id);
    // Inserts the tokens as new rows (their IDs are not used) in one
    // transaction: all are stored or, when anything fails, none. The selected
    // token stays as it was. Returns the new rows' IDs in order; throws as
    // SaveToken, before anything is written for a text holding a zero byte.
    std::vector<int> InstallTokens(const std::vector<COtpTokenPtr>& tokens);

    // Stores the protected SHA-1 hash of the PIN; false when no row took it.
    bool SetPin(const std::string& pin);
    // True when the PIN's hash matches the stored one.
    bool CheckPin(const std::string& pin);
    // True when the stored PIN is not the default one.
    bool IsPinSet();

    // Where the secret values' protection comes from: the fixed key of the
    // "enc:" form, or the store key in the desktop keyring ("kr1:"). The
    // tblSystem row "KeyringStore" holds the keyring item's name (the random
    // store ID) exactly while the store is in keyring mode.
    enum class Protection { File, Keyring };
    enum class ProtectionChange { Done, Unchanged, WrongPin };
    Protection GetProtection();
    // The keyring that keeps store keys; not owned, null for none.
    void SetStoreKeyProvider(CStoreKeyProvider* provider);
    // Reads the store key of a store in keyring mode from the provider, once
    // per unlock; nothing to do in file mode. Throws CStoreKeyError with one
    // line saying what failed and that the file was left untouched; writes
    // nothing either way. Until it succeeds every secret reads as damaged and
    // no secret can be written.
    void LoadStoreKey();
    // The same in two steps, for a program that reads the key without
    // waiting: the store ID whose key is still missing (empty in file mode or
    // once it is loaded), then the key read for it. SetStoreKey throws
    // CStoreKeyError, as LoadStoreKey, for bytes that are no store key.
    std::string GetMissingStoreKeyId();
    void SetStoreKey(const std::string& storeId, const std::string& key);
    // Wipes the key read (the program has locked); it is read again before
    // the next secret is needed.
    void ForgetStoreKey();
    // LoadStoreKey's one line for a keyring that failed for that reason.
    std::string DescribeKeyFailure(const std::string& reason) const;
    // Rewrites every secret value in the other form in one transaction, when
    // the PIN is right. Turning keyring mode on writes a new store key to the
    // provider and reads it back before the transaction; turning it off
    // removes the key after the commit (a failure then is reported on
    // standard error: the store no longer needs it). Damaged values are left
    // as they are. Throws CStoreKeyError or the access layer's exception, with
    // the store unchanged.
    ProtectionChange SetProtection(Protection mode, const std::string& pin);

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
    // As Decrypt, but nothing for a value whose last block does not check out
    // (damaged, made under another key, or not whole blocks): the Credential
    // and the PIN are read through it, so a damaged value never yields a
    // shortened counter or hash.
    std::optional<std::string> DecryptChecked(const std::string& text) const;

    // Building blocks, public for tests.
    bool Open();
    bool CreateTables();
    std::string GetHomePath();
    // The token of the reader's current row; an empty pointer when its ID does
    // not fit in 32 bits.
    COtpTokenPtr ReadToken(CDbReader& reader);
    std::string EncodeCredential(const COtpTokenPtr& token);
    // Leaves the token unchanged when the text is no Credential it can read whole.
    void DecodeCredential(const std::string& text, COtpTokenPtr& token);

private:
    struct CipherContexts;
    struct TokenColumns;
    class CredentialsAhead;

    // Gives protectionKey its fixed content.
    void LoadProtectionKey();
    struct CipherContextsFree
    {
        void operator()(CipherContexts* contexts) const;
    };
    using CipherContextsPtr = std::unique_ptr<CipherContexts, CipherContextsFree>;
    // Contexts without a key yet: they are keyed on first use.
    static CipherContextsPtr NewCipherContexts();
    // Encrypt through the given contexts: a thread of its own needs its own.
    std::string EncryptWith(CipherContexts& contexts, const std::string& plain) const;
    // Sets up the cipher, then opens the file in `directory` and prepares it;
    // records any failure in openError.
    void Start();
    // Refuses a place others could read, change or replace (SecureStorePlace),
    // then opens (creating them when missing) the directory and the database
    // file; the flags say what this call created, also when it throws.
    void OpenFile(bool& createdDirectory, bool& createdFile);
    // Throws for a file whose text encoding is not UTF-8 (made by another program).
    void CheckEncoding();
    // Throws when SQLite's full check finds the file damaged.
    void CheckIntegrity();
    // Creates the missing tables; true when tblToken was created. Throws on SQL failure.
    bool CreateSchema();
    // A setting's IntValue as stored, before GetIntValue() narrows it.
    std::int64_t GetInt64Value(const std::string& name);
    // The decrypted bytes; `intact` false when the last block does not check out.
    std::string DecryptBytes(const std::string& text, bool& intact) const;
    // The Credential text of the token's keys with the given counter.
    std::string EncodeSecret(const COtpToken& token, std::uint64_t counter) const;
    // The "enc:" Credential of the token with its own counter, through the
    // given contexts; for a file-mode batch encrypted on another thread.
    std::string EncodeFileCredential(CipherContexts& contexts, const COtpToken& token) const;
    // Sets the token's keys and counter from a Credential; false, changing
    // nothing, when the text cannot be read whole.
    bool DecodeSecret(const std::string& text, COtpToken& token) const;
    // Inserts the token's row, through the formatted insert text or, for a
    // batch, the kept statement with bound values; returns its ID, moved below
    // 2^31 when needed. Runs inside the caller's transaction. A file-mode
    // Credential already encrypted may be handed in.
    int InsertRow(const COtpToken& token, bool bound, const std::string* encrypted = nullptr);
    // The row at the reader; `intact` false when it cannot be read whole.
    COtpTokenPtr ReadRow(CDbReader& reader, const TokenColumns& columns, bool& intact);
    // A secret in the store's current form, bound to its column and row.
    // Throws std::runtime_error in keyring mode without a loaded key.
    std::string ProtectSecret(const std::string& plain, const std::string& boundTo) const;
    // A secret read back; nothing for one not in the current form or damaged.
    std::optional<std::string> OpenSecret(const std::string& text,
                                          const std::string& boundTo) const;
    // Follows the mode row, which another program may have switched.
    void RefreshProtection();
    // Re-protects every intact secret from one form to the other; inside the
    // caller's transaction.
    using SecretOpener =
        std::function<std::optional<std::string>(const std::string&, const std::string&)>;
    using SecretSealer = std::function<std::string(const std::string&, const std::string&)>;
    void RewriteSecrets(const SecretOpener& open, const SecretSealer& seal);
    // A row left out because its ID does not fit in 32 bits: reported once.
    void ReportUnaddressable(std::int64_t id);

    CDbConnection connection;
    std::uint8_t protectionKey[20];
    CipherContextsPtr cipher;
    std::string directory;
    std::string databasePath;
    std::string openError;
    CStoreKeyProvider* keyProvider = nullptr;
    // The mode row's value as last read: empty in file mode.
    std::string keyringStore;
    // The loaded store key and the store ID it belongs to.
    std::string storeKeyId;
    std::shared_ptr<const CStoreKey> storeKey;
    bool unaddressableReported = false;
    bool selectionRepairReported = false;
};

// The program's one database. Declared here, defined by each program: the
// application on the user's home directory, test programs on a temporary one.
extern LocalDatabase g_localDatabase;
