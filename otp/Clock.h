#pragma once

#include <cstdint>
#include <functional>

// The engine and the views read the current time only through here, so that
// tests can fix it.
namespace OtpClock {

using Source = std::function<std::int64_t()>;

// Whole seconds since 1970-01-01 00:00:00 UTC.
std::int64_t Now();

// Replaces the time source; an empty source restores the system clock.
void SetSource(Source source);

// Seconds added to every reading of the source: a correction the user chose
// for a clock known to be off (0, the start: none).
void SetOffset(std::int64_t seconds);

} // namespace OtpClock
