// The outside programs the tests call (ImageMagick, GDAL's tools, exiftool,
// xdotool, ...) come from scripts/setup. A test that finds one missing says
// so by name, at once, instead of failing later with a misleading result.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace pwtest {

// The program is found on PATH (or is an executable path).
inline bool ProgramFound(const std::string& program) {
  const std::string quoted = "'" + program + "'";
  return std::system(("command -v " + quoted + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string MissingProgramText(const std::string& program) {
  return program + " missing: run scripts/setup";
}

// The program a shell command starts with: its first word, after any
// VAR=value settings.
inline std::string ProgramOf(const std::string& command) {
  size_t at = 0;
  for (;;) {
    at = command.find_first_not_of(" \t", at);
    if (at == std::string::npos) return {};
    const size_t end = command.find_first_of(" \t;|&<>", at);
    std::string word = command.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (word.find('=') == std::string::npos || word[0] == '\'' || word[0] == '"') {
      if (word.size() >= 2 && (word[0] == '\'' || word[0] == '"')) word = word.substr(1, word.size() - 2);
      return word;
    }
    at = end;
  }
}

// For the shared helpers that run commands: a failure naming the program
// when the command's program is missing. True when it is there.
inline bool CheckProgramOf(const std::string& command) {
  const std::string program = ProgramOf(command);
  if (program.empty() || program == "cd" || program == "(" || ProgramFound(program)) return true;
  ADD_FAILURE() << MissingProgramText(program);
  return false;
}

}  // namespace pwtest
