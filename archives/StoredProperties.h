// Published properties kept with a form: an ordered list of name = value pairs. Values are in
// the text form the form files use: numbers in decimal, identifiers bare, sets in brackets,
// strings as quoted literals ('it''s', control characters as #0), string lists as a parenthesised
// sequence of literals. A property holding its stored default is left out when written and takes
// that default when it is missing on reading.
#pragma once

#include "archives/Classes.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace archives {

using TPropertyValues = std::vector<std::pair<std::string, std::string>>;

// 'text' with '' for a quote; bytes below 32 (the NUL of the unset string among them) as #n.
std::string QuoteStringLiteral(std::string_view s);
// The inverse of QuoteStringLiteral (also accepts 'a'#0'b' concatenations). EReadError when the
// text is not such a literal.
std::string ParseStringLiteral(std::string_view text);
// ('a' 'b' ...) and back.
std::string QuoteStringListLiteral(const std::vector<std::string> &lines);
std::vector<std::string> ParseStringListLiteral(std::string_view text);

// One "Name = Value" line per property, and back (blank lines ignored). Names and values may not
// contain line breaks; the literal forms above never do.
std::string PropertiesToText(const TPropertyValues &values);
TPropertyValues PropertiesFromText(std::string_view text);

} // namespace archives
