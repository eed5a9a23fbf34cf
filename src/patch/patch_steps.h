// Small pieces of the patch commands that are rules of their own: the CRC
// text of PARAM2, the in-place temporary name and the index file name
// substitution. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veupd {

// Hexadecimal text to an unsigned 32-bit number: digits in either case are
// taken left to right, blanks and TABs are skipped wherever they stand, the
// first other character ends the number; more than eight digits keep the
// last eight. An empty text gives 0.
[[nodiscard]] std::uint32_t HexToNumber(std::string_view text);

// The temporary file of an in-place update: the path up to and including its
// last '.', then "DU$"; without any '.', the path followed by ".DU$".
[[nodiscard]] std::string InPlaceTemporaryPath(std::string_view path);

// Puts the variable part of the actual data file name into the index file
// path. data_pattern is the structure file's data file name (holding '@'),
// actual_name the data file's real name without directory. Only the counts
// of characters before the first and after the last '@' of the pattern are
// used. False, with index_path unchanged, when index_path holds no '@'.
[[nodiscard]] bool SubstitutePlaceholder(std::string_view data_pattern, std::string_view actual_name,
                                         std::string& index_path);

// True when both paths name the same entry as the file system would find it
// (resolved, ASCII case ignored).
[[nodiscard]] bool SamePathIgnoringCase(const std::string& a, const std::string& b);

}  // namespace veupd
