// Small helpers on wide text and lists of texts shared by the shell, the
// viewer and the tools.
//
// Wide text is std::wstring; the framework string and string-array types of
// the original design are std::wstring and std::vector<std::wstring> here.
// Narrow text is UTF-8 (with the byte escape of platform/text.h, so file
// names that are not valid UTF-8 survive the round trip).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_list.h"
#include "platform/paths.h"
#include "platform/text.h"

// The same functions as the platform's, reachable without the namespace.
// A wide text that cannot be encoded converts to the empty text, which
// every caller treats as "no such path".
using pw::kPathSep;
using pw::NarrowToWide;
using pw::WideToNarrow;

std::wstring ToWideString(int32_t value);
std::wstring UnsignedToWideString(uint32_t value);

// Changes only A-Z / a-z; `lower` true gives lower case.
std::wstring ChangeCase(const std::wstring& text, bool lower);

// Removes leading, then trailing space/LF/CR/TAB, then leading, then trailing
// copies of `extra`.
std::wstring TrimSpaces(const std::wstring& text, wchar_t extra);

// Both sides lower-cased and trimmed (space as the extra character); true
// when the prefix stands at position 0. A purely textual test.
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
// StartsWithNoCase for every element; true for an empty list.
bool AllStartWithNoCase(const std::vector<std::wstring>& list, const std::wstring& prefix);

// Index of the first element equal to `text` (case-sensitive), -1 when none.
int32_t IndexOfString(const std::vector<std::wstring>& list, const std::wstring& text);

// Replaces the first occurrence and searches again from the start until none
// is left, so occurrences formed by a deletion go too ("aabb" minus "ab" is
// ""). An empty pattern leaves the text unchanged; a replacement that is not
// shorter than the pattern (which might never finish) replaces in one
// forward pass instead.
std::wstring ReplaceAll(const std::wstring& text, const std::wstring& pattern,
                        const std::wstring& replacement);
// Replaces each occurrence, continuing after the inserted replacement.
std::wstring ReplaceAllForward(const std::wstring& text, const std::wstring& pattern,
                               const std::wstring& replacement);

// Empty text: no element. Otherwise every piece between separators, empty
// pieces kept ("a||b" gives "a", "", "b"; "a|" gives "a", ""). An empty
// separator gives the whole text as one element.
std::vector<std::wstring> SplitString(const std::wstring& text, const std::wstring& separator);
// The same rule, appending to `out`; returns the size of `out` afterwards.
size_t SplitCString(const std::wstring& text, wchar_t separator, std::vector<std::wstring>& out);
