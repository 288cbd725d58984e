#pragma once
// The wildcard matcher of directory searches. Our own, so that every platform matches
// the same way: '*' stands for any run of characters (also none), '?' for exactly one.
// A mask ending in ".*" also matches names without that dot, so "*.*" matches every
// name and "a.*" matches "a". Letter case counts, as it does for the file names.

#include <string_view>

namespace nubo {

bool HasWildcards(std::string_view s);
bool MatchesMask(std::string_view name, std::string_view mask);

} // namespace nubo
