// Where the program keeps its own files, and the path separator.
//
// All paths here are narrow byte strings as the system hands them over
// (UTF-8 by convention, but any bytes); wide paths belong to core/.
#pragma once

#include <ctime>
#include <string>

namespace pw {

// "/" is the only separator; a backslash is an ordinary character.
inline constexpr wchar_t kPathSep = L'/';
inline constexpr char kPathSepNarrow = '/';

// The folder a path lies in: everything before the last "/", "/" for a
// path right below the root, "." for a bare name.
std::string FolderOf(const std::string& path);

// The running executable (/proc/self/exe), or empty when it cannot be read.
std::string ExecutablePath();

// The folder for files that belong beside the program (settings, the dated
// run log): $PIXELWHARF_HOME when set and not empty; else the executable's
// folder when it is writable; else $XDG_CONFIG_HOME/pixelwharf (default
// ~/.config/pixelwharf). The chosen folder is created when missing. Never
// ends with "/" unless it is the root. Empty when no folder can be had.
std::string ProgramFolder();

// The settings file: the executable's file name with ".ini" appended, in
// ProgramFolder() (so the executable's own path + ".ini" when the program
// keeps its files beside itself). Empty when no program folder exists.
std::string SettingsFilePath();

// The dated run log for the given local date: ProgramFolder() + "/" +
// "%Y年%m月%d日" + ".log". Empty when no program folder exists.
std::string RunLogPath(const std::tm& localDate);
// The same for today's local date.
std::string RunLogPath();

// $TMPDIR when it names a folder, else "/tmp".
std::string TempFolder();

}  // namespace pw
