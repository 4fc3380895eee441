// The tolerant Base64 decoder: decoding what the encoder made gives the bytes
// back, and a limited decode tells the full length, writes exactly the first
// max bytes and never a byte past them.
#include "StorageFuzzing.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16) {
        return 0;
    }
    const int length = static_cast<int>(size);
    const std::string encoded = LocalDatabase::Base64Encode(data, length);
    std::vector<std::uint8_t> back(size + 1);
    Require(LocalDatabase::Base64Decode(encoded, back.data(), length) == length);
    Require(size == 0 || std::memcmp(back.data(), data, size) == 0);

    // The input as text, decoded whole and with a limit below its length.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int full = LocalDatabase::Base64Decode(text, nullptr, 0);
    Require(full >= 0 && static_cast<std::size_t>(full) <= size / 4 * 3 + 2);
    std::vector<std::uint8_t> all(static_cast<std::size_t>(full) + 1);
    Require(LocalDatabase::Base64Decode(text, all.data(), full) == full);
    const int max = size == 0 ? 0 : data[0] % (full + 1);
    // Exactly max bytes on the heap: AddressSanitizer reports a write past them.
    const std::unique_ptr<std::uint8_t[]> limited(new std::uint8_t[static_cast<std::size_t>(max)]);
    Require(LocalDatabase::Base64Decode(text, limited.get(), max) == full);
    Require(max == 0 || std::memcmp(limited.get(), all.data(), static_cast<std::size_t>(max)) == 0);
    return 0;
}
