// Conversions between wide text (std::wstring, UTF-32 here) and the narrow
// text the system hands to the file system and to libraries (UTF-8).
//
// Linux file names are bytes and need not be valid UTF-8: a byte that is not
// part of a valid UTF-8 sequence becomes U+DC80+byte on the way in and the
// same byte again on the way out, so every name survives the round trip.
// Nothing here touches the process locale.
#pragma once

#include <string>
#include <string_view>

namespace pw {

// Never fails: invalid bytes are escaped as U+DC80..U+DCFF.
std::wstring NarrowToWide(std::string_view narrow);

// A wide text holding a character that cannot be encoded (a lone surrogate
// outside the escape range, a value above U+10FFFF) converts to the empty
// text; callers treat an empty path as "no such path".
std::string WideToNarrow(std::wstring_view wide);

// True when WideToNarrow would succeed.
bool IsEncodable(std::wstring_view wide);

}  // namespace pw
