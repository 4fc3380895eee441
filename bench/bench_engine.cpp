// One code and the protection of one secret, each beside its reference.
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
#include <vector>

namespace {

// The RFC 4226/6238 test keys: 20, 32 and 64 bytes of these digits.
const char KeyText[] = "1234567890123456789012345678901234567890123456789012345678901234";
const auto* const Key = reinterpret_cast<const std::uint8_t*>(KeyText);

// The project: one HOTP code, 6 digits, over an 8-byte counter.
void GenerateOtpCode(benchmark::State& state, std::int32_t hash, std::int32_t keyLength)
{
    std::uint64_t counter = 0;
    std::uint8_t data[8];
    for (auto _ : state) {
        CounterToBytes(counter++, data);
        benchmark::DoNotOptimize(GenerateOtp(Key, keyLength, data, 8, 6, false, hash));
    }
}
BENCHMARK_CAPTURE(GenerateOtpCode, sha1, HashSha1, 20);

// The same with a different key in every call, as when many tokens take
// turns: whatever the engine keeps per key cannot help here.
void GenerateOtpNewKeys(benchmark::State& state)
{
    constexpr std::size_t Keys = 1024;
    std::vector<std::uint8_t> keys(Keys * 20);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        keys[i] = static_cast<std::uint8_t>(i * 131 + i / 20);
    }
    std::uint64_t counter = 0;
    std::uint8_t data[8];
    for (auto _ : state) {
        CounterToBytes(counter, data);
        benchmark::DoNotOptimize(
            GenerateOtp(&keys[counter++ % Keys * 20], 20, data, 8, 6, false, HashSha1));
    }
}
BENCHMARK(GenerateOtpNewKeys);
BENCHMARK_CAPTURE(GenerateOtpCode, sha256, HashSha256, 32);
BENCHMARK_CAPTURE(GenerateOtpCode, sha512, HashSha512, 64);

// The peer library's whole code, truncation and formatting included.
void LiboathHotp(benchmark::State& state)
{
    std::uint64_t counter = 0;
    char code[16];
    for (auto _ : state) {
        if (oath_hotp_generate(KeyText, 20, counter++, 6, false, OATH_HOTP_DYNAMIC_TRUNCATION,
                               code) != OATH_OK) {
            state.SkipWithError("oath_hotp_generate failed");
            break;
        }
        benchmark::DoNotOptimize(code);
    }
}
BENCHMARK(LiboathHotp);

// The floor of HMAC-SHA-1 over an 8-byte message with a key that changes from
// call to call: the inner hash of the 64-byte key block and the message
// (72 bytes) and the outer hash of the key block and the inner digest
// (84 bytes), two compressions each, with the digest fetched once and one
// reused context. It leaves out only the key padding and the truncation.
void Sha1Floor(benchmark::State& state)
{
    EVP_MD* sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    std::uint8_t inner[72] = {};
    std::uint8_t outer[84] = {};
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    std::uint64_t counter = 0;
    for (auto _ : state) {
        CounterToBytes(counter++, inner + 64);
        unsigned int length = 0;
        if (EVP_DigestInit_ex2(context, sha1, nullptr) != 1 ||
            EVP_DigestUpdate(context, inner, sizeof inner) != 1 ||
            EVP_DigestFinal_ex(context, outer + 64, &length) != 1 ||
            EVP_DigestInit_ex2(context, sha1, nullptr) != 1 ||
            EVP_DigestUpdate(context, outer, sizeof outer) != 1 ||
            EVP_DigestFinal_ex(context, digest, &length) != 1) {
            state.SkipWithError("SHA-1 failed");
            break;
        }
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(context);
    EVP_MD_free(sha1);
}
BENCHMARK(Sha1Floor);

// An HMAC context made once with its digest, re-keyed for every code.
void ReusedMac(benchmark::State& state, const char* digestName, std::size_t keyLength)
{
    EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* context = EVP_MAC_CTX_new(hmac);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(digestName), 0),
        OSSL_PARAM_construct_end()};
    if (EVP_MAC_CTX_set_params(context, params) != 1) {
        state.SkipWithError("cannot set the digest");
    }
    std::uint8_t data[8];
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    std::uint64_t counter = 0;
    for (auto _ : state) {
        CounterToBytes(counter++, data);
        std::size_t length = 0;
        if (EVP_MAC_init(context, Key, keyLength, nullptr) != 1 ||
            EVP_MAC_update(context, data, sizeof data) != 1 ||
            EVP_MAC_final(context, digest, &length, sizeof digest) != 1) {
            state.SkipWithError("HMAC failed");
            break;
        }
        benchmark::DoNotOptimize(digest);
    }
    EVP_MAC_CTX_free(context);
    EVP_MAC_free(hmac);
}
BENCHMARK_CAPTURE(ReusedMac, sha256, "SHA256", 32);
BENCHMARK_CAPTURE(ReusedMac, sha512, "SHA512", 64);

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

void ProjectEncrypt(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_protection->database.Encrypt(g_protection->plain));
    }
}
BENCHMARK(ProjectEncrypt);

void ProjectDecrypt(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(g_protection->database.Decrypt(g_protection->stored));
    }
}
BENCHMARK(ProjectDecrypt);

void RawEncrypt(benchmark::State& state)
{
    Protection& p = *g_protection;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            p.cipher.Encrypt(reinterpret_cast<const std::uint8_t*>(p.plain.data()),
                             static_cast<int>(p.plain.size()), p.out.data()));
    }
}
BENCHMARK(RawEncrypt);

void RawDecrypt(benchmark::State& state)
{
    Protection& p = *g_protection;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            p.cipher.Decrypt(p.cipherText.data(), p.cipherLength, p.out.data()));
    }
}
BENCHMARK(RawDecrypt);

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
        const int result = RunFigures(
            argc, argv,
            {{"One code, SHA-1: GenerateOtp vs liboath", "GenerateOtpCode/sha1", "LiboathHotp",
              0.9},
             {"One code, SHA-1: GenerateOtp vs 4 SHA-1 compressions", "GenerateOtpCode/sha1",
              "Sha1Floor", 2.5},
             {"One code, SHA-1, a new key each call: GenerateOtp vs 4 compressions",
              "GenerateOtpNewKeys", "Sha1Floor", 2.5},
             {"One code, SHA-256: GenerateOtp vs reused EVP_MAC_CTX", "GenerateOtpCode/sha256",
              "ReusedMac/sha256", 1.1},
             {"One code, SHA-512: GenerateOtp vs reused EVP_MAC_CTX", "GenerateOtpCode/sha512",
              "ReusedMac/sha512", 1.1},
             {"Protection: Encrypt vs raw EVP 3DES-CBC", "ProjectEncrypt", "RawEncrypt", 1.2},
             {"Protection: Decrypt vs raw EVP 3DES-CBC", "ProjectDecrypt", "RawDecrypt", 1.2}});
        oath_done();
        return result;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_engine: %s\n", error.what());
        return 1;
    }
}
