#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The parameters of a URI's query ("name=value&..."), decoded. Names are
// matched without regard to letter case; a fragment ("#...") is ignored.
class CUriQuery
{
public:
    // Reads the query; a refusal (bad percent-encoding, a parameter given
    // twice) or "" when read whole. With plusIsSpace, "+" in a value is a blank.
    std::string Parse(std::string_view query, bool plusIsSpace);
    // The value of the parameter, or nullptr when it is not there.
    const std::string* Find(std::string_view name) const;

private:
    std::vector<std::pair<std::string, std::string>> parameters;
};
