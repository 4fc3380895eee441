// One code and the protection of one secret, each beside its reference. The
// calls take a microsecond or so: each benchmark runs project and reference in
// turns of a few hundred calls (InTurns).
#include "Figures.h"
#include "Fixtures.h"
#include "RawCipher.h"
#include "otp/Hotp.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include <benchmark/benchmark.h>
#include <liboath/oath.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// Calls per turn: a turn of 100 us or more, where the clock costs nothing.
constexpr int Batch = 200;

// The RFC 4226/6238 test keys: 20, 32 and 64 bytes of these digits.
const char KeyText[] = "1234567890123456789012345678901234567890123456789012345678901234";
const auto* const Key = reinterpret_cast<const std::uint8_t*>(KeyText);

void Require(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(what);
    }
}

// An OpenSSL object freed by `Free` with its owner; the owner is not copied.
template <typename T, void (*Free)(T*)> struct FreeWith
{
    void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)> using Owned = std::unique_ptr<T, FreeWith<T, Free>>;

// The project: one code, 6 digits over an 8-byte counter, with nothing of
// the key kept once the call returns.
class ProjectCode
{
public:
    ProjectCode(std::int32_t hashAlgorithm, std::int32_t length)
        : hash(hashAlgorithm), keyLength(length)
    {
    }

    void operator()()
    {
        std::uint8_t data[8];
        CounterToBytes(counter++, data);
        benchmark::DoNotOptimize(GenerateOtp(Key, keyLength, data, 8, 6, false, hash));
    }

private:
    std::int32_t hash;
    std::int32_t keyLength;
    std::uint64_t counter = 0;
};

// The peer library's whole code, truncation and formatting included.
class LiboathCode
{
public:
    void operator()()
    {
        Require(oath_hotp_generate(KeyText, 20, counter++, 6, false, OATH_HOTP_DYNAMIC_TRUNCATION,
                                   code) == OATH_OK,
                "oath_hotp_generate failed");
        benchmark::DoNotOptimize(code);
    }

private:
    std::uint64_t counter = 0;
    char code[16] = {};
};

// The floor of HMAC-SHA-1 over an 8-byte message with a key that changes from
// call to call: the inner hash of the 64-byte key block and the message
// (72 bytes) and the outer hash of the key block and the inner digest
// (84 bytes), two compressions each, with the digest fetched once and one
// reused context. It leaves out only the key padding and the truncation.
class Sha1Floor
{
public:
    Sha1Floor() : sha1(EVP_MD_fetch(nullptr, "SHA1", nullptr)), context(EVP_MD_CTX_new())
    {
        Require(sha1 != nullptr && context != nullptr, "no SHA-1");
    }

    void operator()()
    {
        CounterToBytes(counter++, inner + 64);
        unsigned int length = 0;
        Require(EVP_DigestInit_ex2(context.get(), sha1.get(), nullptr) == 1 &&
                    EVP_DigestUpdate(context.get(), inner, sizeof inner) == 1 &&
                    EVP_DigestFinal_ex(context.get(), outer + 64, &length) == 1 &&
                    EVP_DigestInit_ex2(context.get(), sha1.get(), nullptr) == 1 &&
                    EVP_DigestUpdate(context.get(), outer, sizeof outer) == 1 &&
                    EVP_DigestFinal_ex(context.get(), digest, &length) == 1,
                "SHA-1 failed");
        benchmark::DoNotOptimize(digest);
    }

private:
    Owned<EVP_MD, EVP_MD_free> sha1;
    Owned<EVP_MD_CTX, EVP_MD_CTX_free> context;
    std::uint8_t inner[72] = {};
    std::uint8_t outer[84] = {};
    std::uint8_t digest[EVP_MAX_MD_SIZE] = {};
    std::uint64_t counter = 0;
};

// An HMAC context made once with its digest, re-keyed for every code: it
// keeps the last key, which the project does not.
class ReusedMac
{
public:
    ReusedMac(const char* digestName, std::size_t length)
        : hmac(EVP_MAC_fetch(nullptr, "HMAC", nullptr)), context(EVP_MAC_CTX_new(hmac.get())),
          keyLength(length)
    {
        OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST,
                                                                const_cast<char*>(digestName), 0),
                               OSSL_PARAM_construct_end()};
        Require(context != nullptr && EVP_MAC_CTX_set_params(context.get(), params) == 1,
                "cannot set the digest");
    }

    void operator()()
    {
        std::uint8_t data[8];
        CounterToBytes(counter++, data);
        std::size_t length = 0;
        Require(EVP_MAC_init(context.get(), Key, keyLength, nullptr) == 1 &&
                    EVP_MAC_update(context.get(), data, sizeof data) == 1 &&
                    EVP_MAC_final(context.get(), digest, &length, sizeof digest) == 1,
                "HMAC failed");
        benchmark::DoNotOptimize(digest);
    }

private:
    Owned<EVP_MAC, EVP_MAC_free> hmac;
    Owned<EVP_MAC_CTX, EVP_MAC_CTX_free> context;
    std::size_t keyLength;
    std::uint8_t digest[EVP_MAX_MD_SIZE] = {};
    std::uint64_t counter = 0;
};

void OneCodeLiboath(benchmark::State& state)
{
    ProjectCode project(HashSha1, 20);
    LiboathCode liboath;
    InTurns(state, false, std::ref(project), std::ref(liboath), Batch);
}
BENCHMARK(OneCodeLiboath);

void OneCodeFloor(benchmark::State& state)
{
    ProjectCode project(HashSha1, 20);
    Sha1Floor floor;
    InTurns(state, false, std::ref(project), std::ref(floor), Batch);
}
BENCHMARK(OneCodeFloor);

void OneCodeSha256(benchmark::State& state)
{
    ProjectCode project(HashSha256, 32);
    ReusedMac mac("SHA256", 32);
    InTurns(state, false, std::ref(project), std::ref(mac), Batch);
}
BENCHMARK(OneCodeSha256);

void OneCodeSha512(benchmark::State& state)
{
    ProjectCode project(HashSha512, 64);
    ReusedMac mac("SHA512", 64);
    InTurns(state, false, std::ref(project), std::ref(mac), Batch);
}
BENCHMARK(OneCodeSha512);

// Protection of a Credential: the Base64 of two 20-byte keys and a counter.
struct Protection
{
    LocalDatabase database{testsupport::MakeTempDirectory()};
    RawCipher cipher;
    std::string plain = benchfixtures::CredentialText(*benchfixtures::MakeToken(1, TokenTypeHOTP));
    std::string stored = database.Encrypt(plain);
    std::vector<std::uint8_t> cipherText = std::vector<std::uint8_t>(plain.size() + 8);
    int cipherLength = cipher.Encrypt(reinterpret_cast<const std::uint8_t*>(plain.data()),
                                      static_cast<int>(plain.size()), cipherText.data());
    std::vector<std::uint8_t> out = std::vector<std::uint8_t>(plain.size() + 16);
};
Protection* g_protection = nullptr;

void Encrypt(benchmark::State& state)
{
    Protection& p = *g_protection;
    InTurns(
        state, false, [&p] { benchmark::DoNotOptimize(p.database.Encrypt(p.plain)); },
        [&p] {
            benchmark::DoNotOptimize(
                p.cipher.Encrypt(reinterpret_cast<const std::uint8_t*>(p.plain.data()),
                                 static_cast<int>(p.plain.size()), p.out.data()));
        },
        Batch);
}
BENCHMARK(Encrypt);

void Decrypt(benchmark::State& state)
{
    Protection& p = *g_protection;
    InTurns(
        state, false, [&p] { benchmark::DoNotOptimize(p.database.Decrypt(p.stored)); },
        [&p] {
            benchmark::DoNotOptimize(
                p.cipher.Decrypt(p.cipherText.data(), p.cipherLength, p.out.data()));
        },
        Batch);
}
BENCHMARK(Decrypt);

} // namespace

int main(int argc, char** argv)
{
    try {
        if (oath_init() != OATH_OK) {
            std::fprintf(stderr, "bench_engine: liboath does not start\n");
            return 1;
        }
        Protection protection;
        protection.cipher.CheckAgainst(protection.database);
        g_protection = &protection;
        const int result =
            RunFigures(argc, argv,
                       {{"One code, SHA-1: GenerateOtp vs liboath", "OneCodeLiboath", 1.5},
                        {"One code, SHA-1: GenerateOtp vs 4 SHA-1 compressions", "OneCodeFloor", 0},
                        {"One code, SHA-256: GenerateOtp vs EVP_MAC_CTX keeping its key",
                         "OneCodeSha256", 2.0},
                        {"One code, SHA-512: GenerateOtp vs EVP_MAC_CTX keeping its key",
                         "OneCodeSha512", 2.0},
                        {"Protection: Encrypt vs raw EVP 3DES-CBC", "Encrypt", 1.2},
                        {"Protection: Decrypt vs raw EVP 3DES-CBC", "Decrypt", 1.2}});
        oath_done();
        return result;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_engine: %s\n", error.what());
        return 1;
    }
}
