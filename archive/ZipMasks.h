#pragma once
// Wildcard masks over item names. '*' stands for any run of characters, '?'
// for one character (one code point of a UTF-8 name); separators are ordinary
// characters. Case is ignored under the user's locale (TZipCollation).
#include <string>
#include <utility>

#include "archive/ZipTypes.h"

namespace krevo::archive {

// Pattern match of a whole name. '*' stands for 0..k-1 of the k characters
// left, so "ab**" does not match "ab" while "ab*" does. Malformed UTF-8 bytes
// are characters of their own that compare exactly. Polynomial time.
bool WildcardMatch(const std::string& name, const std::string& pattern, bool ignoreCase);

// The mask rules: "" matches nothing; the first "*.*" means "*"; a mask
// ending in '.' matches only names without an extension.
bool MatchesMask(const std::string& name, const std::string& mask);

// The characters of `s` as WildcardMatch compares them with case ignored
// (malformed bytes kept apart): two strings without '*' and '?' match
// exactly when their keys are equal. Keys made under one collation
// (TZipCollation::Generation) are not comparable with another's.
std::u32string MatchKey(const std::string& s);

// The keys under which a wildcard-free mask (not ending in '.') can match an
// item's stored name in MatchItem: its whole name and its own name, each
// less a trailing '.'; the second is empty when the name has no separator.
std::pair<std::u32string, std::u32string> ItemMatchKeys(const std::string& storedName);

// Does an item's stored name match the find state's mask (and not its
// exclusion mask)? The whole name, less one trailing separator, is tried, then
// its part after the last separator.
bool MatchItem(const std::string& storedName, const TInternalSearchRec& search);

}  // namespace krevo::archive
