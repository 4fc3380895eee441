// What `velmora-cli code` is measured against: a bare program linking the same
// libraries that opens the same database (VELMORA_BENCH_DATA), checks the PIN
// of the file named first on its command line against the stored hash, reads
// the token row with the ID given second and prints its TOTP code.
#include "RawCipher.h"
#include "RawDatabase.h"

#include "otp/Hotp.h"

#include <openssl/evp.h>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <fstream>
#include <string>

namespace {

std::string Code(const char* directory, const char* pinFile, const char* id)
{
    RawDatabase database(std::string(directory) + "/velmora.db");
    RawCipher cipher;

    std::string pin;
    std::getline(std::ifstream(pinFile), pin);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    unsigned char encoded[64];
    const std::string stored = database.Text("select StringValue from tblSystem where Name='PIN'");
    if (EVP_Digest(pin.data(), pin.size(), digest, &length, EVP_sha1(), nullptr) != 1 ||
        cipher.DecryptProtected(stored.data(), static_cast<int>(stored.size())) !=
            std::string(reinterpret_cast<char*>(encoded),
                        static_cast<std::size_t>(
                            EVP_EncodeBlock(encoded, digest, static_cast<int>(length))))) {
        throw std::runtime_error("wrong PIN");
    }

    const RawDatabase::Statement select =
        database.Prepare("select Credential, Digits, Timer from tblToken where ID=?");
    sqlite3_bind_int(select.get(), 1, std::atoi(id));
    if (sqlite3_step(select.get()) != SQLITE_ROW) {
        throw std::runtime_error("no such token");
    }
    const char* credential = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
    const std::string plain =
        cipher.DecryptProtected(credential, sqlite3_column_bytes(select.get(), 0));
    const std::size_t first = plain.find(',');
    const std::size_t second = plain.find(',', first + 1);
    const std::string keyText = plain.substr(first + 1, second - first - 1);
    unsigned char key[256];
    int keyLength = EVP_DecodeBlock(key, reinterpret_cast<const unsigned char*>(keyText.data()),
                                    static_cast<int>(keyText.size()));
    for (std::size_t i = keyText.size(); i > 0 && keyText[i - 1] == '='; --i) {
        --keyLength;
    }
    std::uint8_t counter[8];
    CounterToBytes(
        static_cast<std::uint64_t>(std::time(nullptr) / sqlite3_column_int(select.get(), 2)),
        counter);
    return GenerateOtp(key, keyLength, counter, 8, sqlite3_column_int(select.get(), 1), false,
                       HashSha1);
}

} // namespace

int main(int argc, char** argv)
{
    const char* directory = std::getenv("VELMORA_BENCH_DATA");
    try {
        if (directory == nullptr || argc != 3) {
            std::fprintf(stderr, "usage: VELMORA_BENCH_DATA=DIR cli_reference PINFILE ID\n");
            return 2;
        }
        std::printf("%s\n", Code(directory, argv[1], argv[2]).c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cli_reference: %s\n", error.what());
        return 1;
    }
}
