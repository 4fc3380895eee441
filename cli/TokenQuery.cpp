#include "TokenQuery.h"

#include <QString>

namespace {

QString Text(const std::string& bytes)
{
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

template <typename Predicate>
std::vector<TokenListing> Filter(const std::vector<TokenListing>& tokens, Predicate matches)
{
    std::vector<TokenListing> found;
    for (const TokenListing& token : tokens) {
        if (matches(token)) {
            found.push_back(token);
        }
    }
    return found;
}

} // namespace

std::vector<TokenListing> MatchTokens(const std::vector<TokenListing>& tokens,
                                      const std::string& query)
{
    if (query.empty()) {
        return {};
    }
    std::vector<TokenListing> found = Filter(
        tokens, [&query](const TokenListing& token) { return std::to_string(token.ID) == query; });
    if (found.empty()) {
        found = Filter(tokens, [&query](const TokenListing& token) {
            return token.Title == query || token.Name == query;
        });
    }
    if (found.empty()) {
        const QString part = Text(query).toCaseFolded();
        found = Filter(tokens, [&part](const TokenListing& token) {
            return Text(token.Title).toCaseFolded().contains(part);
        });
    }
    return found;
}
