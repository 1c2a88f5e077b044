// How karvo-size writes what it says: numbers, sizes, names and the words
// the user typed, quoted, and the columns of its tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace karvo::cli {

std::string Number(std::int64_t value);
// 1,000,204,886,016: a disk's numbers are long.
std::string Grouped(std::int64_t value);
// A size in MiB: whole where it is, else with two decimals, cut.
std::string MiBText(std::int64_t bytes);
// ASCII letters in lower case, as file systems' words are compared and written.
std::string Lowercase(std::string_view word);
// An argument as the user typed it, in quotes; a very long one is shortened.
std::string Quoted(std::string_view word);
// A file's name as a shell would take it back, as coreutils quotes one: as
// it is when nothing in it needs quoting, else in single quotes, with
// control characters as $'\n' (never raw to the terminal).
std::string QuotedName(std::string_view name);

// A text padded to a column's width, on the left for a right-aligned one.
std::string Column(const std::string& text, std::size_t width, bool right = false);
// A line without the blanks that pad its last column, ended.
std::string Trimmed(std::string line);

}  // namespace karvo::cli
