// What the application's start-up is measured against: a bare Qt program that
// does the same database and cipher work first (open the file of
// VELMORA_BENCH_DATA, check both tables, read the PIN, a SHA-1 and a
// triple-DES decrypt), then shows a window of the same size with a menu bar.
// It ends at its first paint, as the application does.
#include "RawCipher.h"
#include "RawDatabase.h"
#include "ReferenceWindow.h"

#include <QApplication>

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

bool DatabaseWork(const char* directory)
{
    RawDatabase database(std::string(directory) + "/velmora.db");
    const bool tables =
        database.Text("select count(*) from sqlite_master where name='tblToken'") == "1" &&
        database.Text("select count(*) from sqlite_master where name='tblSystem'") == "1";
    const std::string pin = database.Text("select StringValue from tblSystem where Name='PIN'");
    RawCipher cipher;
    const std::string stored = cipher.DecryptProtected(pin.data(), static_cast<int>(pin.size()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    return tables && !stored.empty() &&
           EVP_Digest("4826103957kxvqjmw", 17, digest, &length, EVP_sha1(), nullptr) == 1;
}

} // namespace

int main(int argc, char* argv[])
{
    const char* directory = std::getenv("VELMORA_BENCH_DATA");
    try {
        if (directory == nullptr || !DatabaseWork(directory)) {
            std::fprintf(stderr, "startup_reference: no prepared database in VELMORA_BENCH_DATA\n");
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "startup_reference: %s\n", error.what());
        return 1;
    }

    QApplication application(argc, argv);
    ReferenceWindow window;
    window.show();
    return QApplication::exec();
}
