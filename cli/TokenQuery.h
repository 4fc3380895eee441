#pragma once

#include "storage/TokenListing.h"

#include <string>
#include <vector>

// The tokens a query names: the one whose ID it is, else those whose name is
// exactly the query, else those whose name holds it, letter case aside. One
// match names a token; several are ambiguous; none names nothing.
std::vector<TokenListing> MatchTokens(const std::vector<TokenListing>& tokens,
                                      const std::string& query);
