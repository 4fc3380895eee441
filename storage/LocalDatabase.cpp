#include "storage/LocalDatabase.h"

#include "storage/Diagnostics.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const LocalDatabase::DefaultPin = "4826103957kxvqjmw";

namespace {

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

// Makes the data directory, owner only, unless it is there already.
void MakeDirectory(const std::string& directory)
{
    if (access(directory.c_str(), F_OK) == 0) {
        return;
    }
    if (mkdir(directory.c_str(), 0700) != 0) {
        const int error = errno;
        if (error != EEXIST) {
            throw std::runtime_error(
                SystemError("cannot create the directory " + directory, error));
        }
        return;
    }
    // The umask may have taken bits away; the directory is the owner's alone.
    chmod(directory.c_str(), 0700);
}

// Creates the database file readable and writable by its owner only; an
// existing file keeps its mode. Checks that it can be opened for writing.
void MakeDatabaseFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        fchmod(fd, 0600);
    } else if (errno == EEXIST) {
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (fd < 0) {
        throw std::runtime_error(SystemError("cannot open the file", errno));
    }
    ::close(fd);
}

} // namespace

LocalDatabase::LocalDatabase() : protectionKey()
{
    LoadProtectionKey();
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

LocalDatabase::LocalDatabase(const std::string& dataDirectory)
    : protectionKey(), directory(dataDirectory)
{
    LoadProtectionKey();
    Start();
}

LocalDatabase::~LocalDatabase() = default;

void LocalDatabase::Start()
{
    try {
        Open();
    } catch (const std::exception& error) {
        openError = "cannot open the database " + databasePath + ": " + error.what();
        try {
            connection.close();
        } catch (const std::exception& closeError) {
            ReportDiagnostic(closeError.what());
        }
        return;
    }
    // Tables and default PIN in one transaction, so that no interruption can
    // leave a token table without a PIN (which would lock the user out).
    try {
        connection.executenonquery("begin");
        if (CreateSchema()) {
            SetPin(DefaultPin);
        }
        connection.executenonquery("commit");
    } catch (const std::exception& error) {
        ReportDiagnostic(error.what());
        RollBack();
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
    databasePath = directory + "/velmora.db";
    MakeDirectory(directory);
    MakeDatabaseFile(databasePath);
    connection.open(databasePath.c_str());
    return true;
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

void LocalDatabase::RollBack() noexcept
{
    try {
        connection.executenonquery("rollback");
    } catch (const std::exception&) {
        // No transaction was open, or the connection cannot say more than the
        // error being reported already.
    }
}

std::string LocalDatabase::GetStringValue(const std::string& name)
{
    return connection.executestring("select StringValue from tblSystem where Name='%q'",
                                    name.c_str());
}

int LocalDatabase::GetIntValue(const std::string& name)
{
    return connection.executeint32("select IntValue from tblSystem where Name='%q'", name.c_str());
}

int LocalDatabase::SetStringValue(const std::string& name, const std::string& value)
{
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
    SetStringValue("PIN", Encrypt(Base64Encode(digest.data(), static_cast<int>(digest.size()))));
    return true;
}

bool LocalDatabase::CheckPin(const std::string& pin)
{
    const std::string stored = GetStringValue("PIN");
    if (stored.empty()) {
        return false;
    }
    const Digest digest = Sha1(pin);
    Digest storedDigest{};
    const int length =
        Base64Decode(Decrypt(stored), storedDigest.data(), static_cast<int>(storedDigest.size()));
    return length == static_cast<int>(storedDigest.size()) &&
           CRYPTO_memcmp(storedDigest.data(), digest.data(), digest.size()) == 0;
}

bool LocalDatabase::IsPinSet()
{
    return !CheckPin(DefaultPin);
}
