#pragma once

#include <string>

// The message of the E that the call throws ("no exception" when it returns).
// An exception of another type leaves the test as a failure.
template <typename E, typename Call> std::string Message(Call call)
{
    try {
        call();
    } catch (const E& error) {
        return error.what();
    }
    return "no exception";
}
