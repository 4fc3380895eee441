#include "interop/UriQuery.h"

#include "interop/Codecs.h"

#include <cctype>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

std::string CUriQuery::Parse(const std::string& query, bool plusIsSpace)
{
    parameters.clear();
    const std::string text = query.substr(0, query.find('#'));
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string part = text.substr(start, end - start);
        start = end + 1;
        if (part.empty()) {
            continue;
        }
        const std::size_t equals = part.find('=');
        const std::optional<std::string> name = PercentDecode(part.substr(0, equals), plusIsSpace);
        const std::optional<std::string> value = PercentDecode(
            equals == std::string::npos ? std::string() : part.substr(equals + 1), plusIsSpace);
        if (!name || !value) {
            return "its query has a bad percent-encoding";
        }
        const std::string key = Lower(*name);
        if (Find(key) != nullptr) {
            return "its parameter \"" + key + "\" is given twice";
        }
        parameters.emplace_back(key, *value);
    }
    return std::string();
}

const std::string* CUriQuery::Find(const std::string& name) const
{
    for (const auto& [key, value] : parameters) {
        if (key == name) {
            return &value;
        }
    }
    return nullptr;
}
