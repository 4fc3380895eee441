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

} // namespace

std::int64_t Now()
{
    const Source& source = CurrentSource();
    if (source) {
        return source();
    }
    return static_cast<std::int64_t>(std::time(nullptr));
}

void SetSource(Source source)
{
    CurrentSource() = std::move(source);
}

} // namespace OtpClock
