// Path helpers on wide paths. The separator is "/" (kPathSep); a backslash
// is an ordinary character. The root "/" is where climbing stops. The
// extension is a "." in the last path component only, and not a leading one
// (".bashrc" has none).
#pragma once

#include <string>
#include <vector>

#include "core/StringHelpers.h"

// Appends the separator unless present; an empty path stays empty.
std::wstring EnsureTrailingSeparator(const std::wstring& path, wchar_t sep = kPathSep);

// Removes trailing spaces, TABs, CRs, LFs and separators, in any mix, but
// never the first character.
std::wstring TrimTrailingSeparators(const std::wstring& path, wchar_t sep = kPathSep);

// Everything before the last separator of the trimmed path; "/" for a path
// right under the root; the trimmed path itself when it has no separator.
std::wstring GetParentDir(const std::wstring& path, wchar_t sep = kPathSep);

// The part after the last separator of the trimmed path.
std::wstring GetLastComponent(const std::wstring& path, wchar_t sep = kPathSep);

// The part after the last separator; without `keepExtension` cut before the
// extension's ".".
std::wstring GetFileName(const std::wstring& path, bool keepExtension, wchar_t sep = kPathSep);

// The extension of the last component, with or without its "."; empty when
// it has none.
std::wstring GetExtension(const std::wstring& path, bool withDot);

// The path without the extension of its last component, followed by
// `newEnding`; without an extension `newEnding` is appended. A "." in a
// folder name is never taken for an extension.
std::wstring ReplaceExtension(const std::wstring& path, const std::wstring& newEnding);

// True when `path` is `folder` or lies below it, comparing whole components
// as the file system does ("/a" is not a parent of "/ab/y").
bool IsSameOrBelow(const std::wstring& path, const std::wstring& folder);

// The deepest folder that holds every path of the list, going up from the
// first path's folder; "/" when they share nothing but the root (or no
// folder at all); empty for an empty list.
std::wstring GetCommonParentDir(const std::vector<std::wstring>& paths);

// The extension, lower-cased, is exactly ".jpg" or ".jpeg".
bool IsJpegFile(const std::wstring& path);
