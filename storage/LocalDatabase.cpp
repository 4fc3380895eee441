#include "storage/LocalDatabase.h"

#include "storage/DbTransaction.h"
#include "storage/Diagnostics.h"
#include "storage/KeyringCipher.h"
#include "storage/StatementText.h"
#include "storage/StorePlace.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const LocalDatabase::DefaultPin = "4826103957kxvqjmw";

namespace {

// The CREATE statements are kept byte for byte, tabs and the final blank
// included: SQLite stores their text as the schema of every database file.
const char TokenTableStatement[] =
    "CREATE TABLE tblToken (\t\t\t\tID INTEGER PRIMARY KEY AUTOINCREMENT,\t\t\t\tTokenType "
    "interger default 5,\t\t\t\tName varchar(50) Collate NOCASE,\t\t\t\tUserName varchar(50) "
    "Collate NOCASE,\t\t\t\tDomainName varchar(50) Collate NOCASE,\t\t\t\tTokenID varchar(50) "
    "Collate NOCASE,\t\t\t\tSerial varchar(50) Collate NOCASE,\t\t\t\tDescription varchar(250) "
    "Collate NOCASE,\t\t\t\tServiceUrl varchar(1024) Collate NOCASE,\t\t\t\tAppUrl "
    "varchar(1024) Collate NOCASE,\t\t\t\tOcraSuite varchar(100) Collate "
    "NOCASE,\t\t\t\tCredential varchar Collate NOCASE,\t\t\t\tStatus integer default "
    "1,\t\t\t\tDigits integer default 6,\t\t\t\tCheckSum integer default 0,\t\t\t\tSyncSize "
    "integer default 2,\t\t\t\tTwoWay integer default 0,\t\t\t\tTimer integer default "
    "60,\t\t\t\tSleep integer default 5,\t\t\t\tLastUpdate DATE NULL,\t\t\t\tLastSync DATE "
    "NULL\t\t\t\t) ";

const char SystemTableStatement[] =
    "CREATE TABLE tblSystem (\t\t\t\tID INTEGER PRIMARY KEY AUTOINCREMENT,\t\t\t\tName varchar "
    "unique Collate NOCASE,\t\t\t\tStringValue varchar Collate NOCASE,\t\t\t\tIntValue "
    "integer\t\t\t\t) ";

using Digest = std::array<std::uint8_t, 20>;

Digest Sha1(const std::string& text)
{
    Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1 ||
        length != digest.size()) {
        throw std::runtime_error("SHA-1: digest failed");
    }
    return digest;
}

std::string SystemError(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

// Makes the data directory, owner only, unless it is there already; true
// when this call created it.
bool MakeDirectory(const std::string& directory)
{
    if (access(directory.c_str(), F_OK) == 0) {
        return false;
    }
    if (mkdir(directory.c_str(), 0700) != 0) {
        const int error = errno;
        if (error != EEXIST) {
            throw std::runtime_error(
                SystemError("cannot create the directory " + directory, error));
        }
        return false;
    }
    // The umask may have taken bits away; the directory is the owner's alone.
    chmod(directory.c_str(), 0700);
    return true;
}

// Creates the database file readable and writable by its owner only (SQLite
// gives its journal the same mode); an existing file keeps its mode. Checks
// that it can be opened for writing; true when this call created it.
bool MakeDatabaseFile(const std::string& path)
{
    bool created = true;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        fchmod(fd, 0600);
    } else if (errno == EEXIST) {
        created = false;
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        throw std::runtime_error(SystemError("cannot open the file", errno));
    }
    ::close(fd);
    return created;
}

// The reason of a failed start without the access layer's operation name:
// "file is not a database" says more to a user than where it was noticed.
std::string Reason(const std::exception& error)
{
    const std::string prefix = "executereader: ";
    const std::string text = error.what();
    return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

} // namespace

LocalDatabase::LocalDatabase() noexcept : protectionKey()
{
    const std::string home = GetHomePath();
    if (home.empty()) {
        openError = "cannot open the database: the password database gives no home directory "
                    "for user id " +
                    std::to_string(getuid());
        return;
    }
    directory = home + "/.velmora";
    Start();
}

LocalDatabase::LocalDatabase(const std::string& dataDirectory) noexcept
    : protectionKey(), directory(dataDirectory)
{
    Start();
}

LocalDatabase::~LocalDatabase() = default;

void LocalDatabase::Start()
{
    bool createdDirectory = false;
    bool createdFile = false;
    try {
        databasePath = directory + "/velmora.db";
        cipher = NewCipherContexts();
        LoadProtectionKey();
        OpenFile(createdDirectory, createdFile);
        // Tables and default PIN in one transaction, so that no interruption
        // can leave a token table without a PIN (which would lock the user out).
        CDbTransaction transaction(connection);
        CheckEncoding();
        CheckIntegrity();
        if (CreateSchema()) {
            SetPin(DefaultPin);
        }
        RefreshProtection();
        transaction.commit();
        return;
    } catch (const std::exception& error) {
        openError = "cannot open the database " + databasePath + ": " + Reason(error);
    }
    try {
        connection.close();
    } catch (const std::exception& closeError) {
        ReportDiagnostic(closeError.what());
    }
    // Leave the place as it was: remove what this start made, never a file
    // that was there before (a journal beside an existing file may be hot).
    if (createdFile) {
        unlink((databasePath + "-journal").c_str());
        unlink(databasePath.c_str());
    }
    if (createdDirectory) {
        rmdir(directory.c_str());
    }
}

bool LocalDatabase::IsOpen() const
{
    return connection.isopen();
}

const std::string& LocalDatabase::GetOpenError() const
{
    return openError;
}

const std::string& LocalDatabase::GetDatabasePath() const
{
    return databasePath;
}

void LocalDatabase::SetBusyTimeout(int milliseconds)
{
    connection.setbusytimeout(milliseconds);
}

std::string LocalDatabase::GetHomePath()
{
    const passwd* entry = getpwuid(getuid());
    if (entry == nullptr || entry->pw_dir == nullptr) {
        return std::string();
    }
    return entry->pw_dir;
}

bool LocalDatabase::Open()
{
    bool createdDirectory = false;
    bool createdFile = false;
    OpenFile(createdDirectory, createdFile);
    return true;
}

void LocalDatabase::OpenFile(bool& createdDirectory, bool& createdFile)
{
    databasePath = directory + "/velmora.db";
    SecureStorePlace(directory, databasePath);
    createdDirectory = MakeDirectory(directory);
    createdFile = MakeDatabaseFile(databasePath);
    connection.open(databasePath.c_str());
}

void LocalDatabase::CheckEncoding()
{
    // SQLite converts text into a UTF-16 file's encoding, and bytes that are
    // not UTF-8 do not survive that: names would change as they are stored.
    const std::string encoding = connection.executestring("pragma encoding");
    if (encoding != "UTF-8") {
        throw std::runtime_error("its text encoding is " + encoding +
                                 ", and names are kept byte for byte only in UTF-8 files");
    }
}

void LocalDatabase::CheckIntegrity()
{
    // The full check: a quick one misses index entries that do not match
    // their rows, and a damaged unique index lets a setting be stored twice.
    const std::string verdict = connection.executestring("pragma integrity_check(1)");
    if (verdict != "ok") {
        throw std::runtime_error("the file is damaged (" + verdict + ")");
    }
}

bool LocalDatabase::CreateSchema()
{
    const bool tokenExisted = connection.tableexists("tblToken");
    if (!tokenExisted) {
        connection.executenonquery(TokenTableStatement);
    }
    if (!connection.tableexists("tblSystem")) {
        connection.executenonquery(SystemTableStatement);
    }
    return !tokenExisted;
}

bool LocalDatabase::CreateTables()
{
    try {
        return CreateSchema();
    } catch (const std::exception& error) {
        ReportDiagnostic(error.what());
        return false;
    }
}

bool LocalDatabase::HasValue(const std::string& name)
{
    return connection.executecached("select count(*) from tblSystem where Name=?", name)
               .scalarint64() != 0;
}

std::string LocalDatabase::GetStringValue(const std::string& name)
{
    return connection.executecached("select StringValue from tblSystem where Name=?", name)
        .scalarstring();
}

std::int64_t LocalDatabase::GetInt64Value(const std::string& name)
{
    return connection.executecached("select IntValue from tblSystem where Name=?", name)
        .scalarint64();
}

int LocalDatabase::GetIntValue(const std::string& name)
{
    const std::int64_t value = GetInt64Value(name);
    return static_cast<int>(value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value);
}

int LocalDatabase::SetStringValue(const std::string& name, const std::string& value)
{
    RefuseZeroByte(name, "SetStringValue", "name");
    RefuseZeroByte(value, "SetStringValue", "value");
    if (connection.executeint32("select count(*) from tblSystem where Name='%q'", name.c_str()) !=
        0) {
        return connection.executenonquery("update tblSystem set StringValue='%q' where Name='%q'",
                                          value.c_str(), name.c_str());
    }
    return connection.executenonquery("insert into tblSystem (Name,StringValue) values ('%q','%q')",
                                      name.c_str(), value.c_str());
}

int LocalDatabase::SetIntValue(const std::string& name, int value)
{
    RefuseZeroByte(name, "SetIntValue", "name");
    if (connection.executeint32("select count(*) from tblSystem where Name='%q'", name.c_str()) !=
        0) {
        return connection.executenonquery("update tblSystem set IntValue=%d where Name='%q'", value,
                                          name.c_str());
    }
    return connection.executenonquery("insert into tblSystem (Name,IntValue) values ('%q',%d)",
                                      name.c_str(), value);
}

bool LocalDatabase::SetPin(const std::string& pin)
{
    const Digest digest = Sha1(pin);
    // The mode read and the hash written under one lock (the start's
    // transaction holds one already).
    std::optional<CDbTransaction> transaction;
    if (!connection.intransaction()) {
        transaction.emplace(connection);
    }
    RefreshProtection();
    const bool stored =
        SetStringValue("PIN",
                       ProtectSecret(Base64Encode(digest.data(), static_cast<int>(digest.size())),
                                     PinBinding())) > 0;
    if (transaction) {
        transaction->commit();
    }
    return stored;
}

bool LocalDatabase::CheckPin(const std::string& pin)
{
    const std::string stored = GetStringValue("PIN");
    if (stored.empty()) {
        return false;
    }
    // A damaged value never matches, not even by its undamaged blocks.
    RefreshProtection();
    const std::optional<std::string> plain = OpenSecret(stored, PinBinding());
    if (!plain) {
        return false;
    }
    const Digest digest = Sha1(pin);
    Digest storedDigest{};
    const int length =
        Base64Decode(*plain, storedDigest.data(), static_cast<int>(storedDigest.size()));
    return length == static_cast<int>(storedDigest.size()) &&
           CRYPTO_memcmp(storedDigest.data(), digest.data(), digest.size()) == 0;
}

bool LocalDatabase::IsPinSet()
{
    return !CheckPin(DefaultPin);
}
