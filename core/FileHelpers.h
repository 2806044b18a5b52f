// File, folder and file-time helpers on wide paths.
//
// Every wide path goes to the system through WideToNarrow; a path that
// cannot be encoded (or an empty one) is "no such path": nothing is
// searched, opened or created in the current folder instead.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "core/StringHelpers.h"

// A file time as the system keeps it.
using FileTime = timespec;

// A regular file that opens for reading (folders, FIFOs, missing or
// unreadable files give false).
bool FileExists(const std::wstring& path);

// Anything at all under that name: a file, a folder or another kind of entry.
bool PathExists(const std::wstring& path);

// Creates every missing level of the path below the root (absolute) or the
// current folder (relative). False as soon as a level cannot be created or
// exists as something other than a folder; true when every level exists
// ("/" creates nothing and is true). False for an empty path.
bool CreateDirectoryTree(const std::wstring& path, wchar_t sep = kPathSep);

// Appends folder + "/" + name for every regular file of `folder` whose name
// matches `pattern` (case-insensitive; "*" and "*.*" match every name, dot
// files included), sorted by byte order; then, when `recursive`, searches
// every real sub-folder (not one reached through a link) the same way, in
// byte order, depth first. A folder that cannot be listed (missing, no
// permission) adds nothing; its path (without a trailing separator) is
// appended to `unlisted` when given, so a caller can tell that its files
// were not reached. Returns the size of `list` afterwards.
size_t FindFiles(const std::wstring& folder, std::vector<std::wstring>& list,
                 const std::string& pattern, bool recursive,
                 std::vector<std::wstring>* unlisted = nullptr);

// Normalises the patterns ("jpg" -> "*.jpg", ".png" -> "*.png", empty ones
// dropped; any "*" or "*.*" makes "*.*" the only pattern), then runs
// FindFiles once per pattern in order, so a file that matches two patterns
// is listed twice. A folder that cannot be listed goes into `unlisted`
// (when given) once, however many patterns. Returns the size of `list`
// afterwards.
size_t CollectFiles(const std::wstring& folder, std::vector<std::wstring>& list,
                    const std::vector<std::wstring>& patterns, bool recursive,
                    std::vector<std::wstring>* unlisted = nullptr);

// Clears `lines` and reads the file one element per line (LF or CR LF; a
// final line end adds no empty element). 0 lines for a missing file.
// `complete`, when given, tells whether the whole file was read: false when
// an existing file could not be opened or a read failed part way, so a
// caller that rewrites the file from its lines can leave it alone instead.
size_t ReadLines(const std::wstring& path, std::vector<std::wstring>& lines,
                 bool* complete = nullptr);

// Writes the texts back to back (callers end each with "\n"), replacing the
// file atomically: a failed write leaves the old file whole. 0 on success,
// -1 when the file could not be written.
int WriteLines(const std::wstring& path, const std::vector<std::wstring>& lines);

// Copies the access and modification times (to the nanosecond) of `source`
// onto `target`; both must pass FileExists. Linux cannot set a creation time.
bool CopyFileTimes(const std::wstring& source, const std::wstring& target);

// Adds the owner's write bit; false when the file's status cannot be read
// or changed.
bool ClearReadOnly(const std::wstring& path);

// Formats each time in local time as "%d%02d%02d-%02d%02d" (year, month,
// day, hour, minute) into the output of the same position. Always true.
bool FormatFileTimes(std::wstring& creationText, std::wstring& accessText, std::wstring& writeText,
                     const FileTime& creation, const FileTime& access, const FileTime& write);

// "YYYYMM" of the file's last modification in local time; empty when the
// file's times cannot be read.
std::wstring GetModifyMonth(const std::wstring& path);
