// Time per call of the engine's code computations. Run by hand:
//   bench_otp [iterations]
#include "otp/Clock.h"
#include "otp/Hotp.h"
#include "otp/Ocra.h"
#include "otp/OtpToken.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Keeps the optimiser from dropping the computation whose result is unused.
std::size_t g_sink = 0;

template <typename Call> void Measure(const char* name, long iterations, Call call)
{
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < iterations; ++i) {
        g_sink += call(i);
    }
    const std::chrono::duration<double, std::micro> elapsed =
        std::chrono::steady_clock::now() - start;
    std::printf("%-36s %10.3f us/call (%ld calls)\n", name, elapsed.count() / iterations,
                iterations);
}

} // namespace

int main(int argc, char** argv)
{
    const long iterations = argc > 1 ? std::atol(argv[1]) : 100000;
    if (iterations <= 0) {
        std::fprintf(stderr, "usage: bench_otp [iterations]\n");
        return 2;
    }
    const std::string key = "1234567890123456789012345678901234567890123456789012345678901234";
    const auto* keyBytes = reinterpret_cast<const std::uint8_t*>(key.data());

    // The RFC test key lengths: one block of output per hash.
    const struct
    {
        const char* name;
        std::int32_t hash;
        std::int32_t keyLength;
        std::int32_t digits;
    } variants[] = {{"GenerateOtp HMAC-SHA-1, 6 digits", HashSha1, 20, 6},
                    {"GenerateOtp HMAC-SHA-256, 8 digits", HashSha256, 32, 8},
                    {"GenerateOtp HMAC-SHA-512, 8 digits", HashSha512, 64, 8}};
    for (const auto& variant : variants) {
        Measure(variant.name, iterations, [&](long i) {
            std::uint8_t data[8];
            CounterToBytes(static_cast<std::uint64_t>(i), data);
            return GenerateOtp(keyBytes, variant.keyLength, data, 8, variant.digits, false,
                               variant.hash)
                .size();
        });
    }

    COtpTokenPtr hotp = COtpToken::Create("Bench", "12345678", "1200000ABCDEFGHIJ6");
    if (!hotp) {
        std::fprintf(stderr, "bench_otp: the benchmark token was refused\n");
        return 1;
    }
    Measure("COtpToken::GetOtp HOTP (pair)", iterations,
            [&](long) { return hotp->GetOtp().first.size(); });

    COtpToken totp = *hotp;
    totp.TokenType = TokenTypeTOTP;
    OtpClock::SetSource([] { return std::int64_t{1206446760}; });
    Measure("COtpToken::GetOtp TOTP (pair)", iterations,
            [&](long) { return totp.GetOtp().first.size(); });

    Measure("ComputeOcra SHA512-8:QN08-T1M", iterations, [&](long) {
        return ComputeOcra(keyBytes, 64, "OCRA-1:HOTP-SHA512-8:QN08-T1M", 0, "12345678",
                           std::string(), std::string(), 1206446760)
            .size();
    });
    Measure("ComputeOcra SHA256-8:C-QN08-PSHA1", iterations, [&](long i) {
        return ComputeOcra(keyBytes, 32, "OCRA-1:HOTP-SHA256-8:C-QN08-PSHA1",
                           static_cast<std::uint64_t>(i), "12345678", "1234", std::string(), 0)
            .size();
    });
    OtpClock::SetSource({});
    return g_sink == 0 ? 1 : 0;
}
