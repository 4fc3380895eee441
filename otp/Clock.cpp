#include "otp/Clock.h"

#include <ctime>
#include <utility>

namespace OtpClock {

namespace {

// Only the GUI thread and the test programs use the clock, so a plain static
// is enough.
Source& CurrentSource()
{
    static Source source;
    return source;
}

std::int64_t& CurrentOffset()
{
    static std::int64_t offset = 0;
    return offset;
}

} // namespace

std::int64_t Now()
{
    const Source& source = CurrentSource();
    const std::int64_t time = source ? source() : static_cast<std::int64_t>(std::time(nullptr));
    return time + CurrentOffset();
}

void SetSource(Source source)
{
    CurrentSource() = std::move(source);
}

void SetOffset(std::int64_t seconds)
{
    CurrentOffset() = seconds;
}

} // namespace OtpClock
