// Small pieces of the patch commands that are rules of their own: the
// in-place temporary name and the index file name substitution.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veupd {

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
