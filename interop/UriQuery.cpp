#include "interop/UriQuery.h"

#include "interop/Codecs.h"

#include <string_view>

std::string CUriQuery::Parse(std::string_view query, bool plusIsSpace)
{
    parameters.clear();
    parameters.reserve(6); // a Key URI's usual parameters, without growing
    // Read in place: an import reads thousands of these.
    const std::string_view text = query.substr(0, query.find('#'));
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view part = text.substr(start, end - start);
        start = end + 1;
        if (part.empty()) {
            continue;
        }
        const std::size_t equals = part.find('=');
        std::optional<std::string> name = PercentDecode(part.substr(0, equals), plusIsSpace);
        std::optional<std::string> value = PercentDecode(
            equals == std::string_view::npos ? std::string_view() : part.substr(equals + 1),
            plusIsSpace);
        if (!name || !value) {
            return "its query has a bad percent-encoding";
        }
        for (char& c : *name) {
            c = LowerAscii(c);
        }
        if (Find(*name) != nullptr) {
            return "its parameter \"" + *name + "\" is given twice";
        }
        parameters.emplace_back(std::move(*name), std::move(*value));
    }
    return std::string();
}

const std::string* CUriQuery::Find(std::string_view name) const
{
    for (const auto& [key, value] : parameters) {
        if (key == name) {
            return &value;
        }
    }
    return nullptr;
}
