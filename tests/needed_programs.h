// The outside programs the tests call (ImageMagick, GDAL's tools, exiftool,
// xdotool, ...) come from scripts/setup. A test that finds one missing says
// so by name, at once, instead of failing later with a misleading result.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace pwtest {

// The program is found on PATH (or is an executable path).
inline bool ProgramFound(const std::string& program) {
  const std::string quoted = "'" + program + "'";
  return std::system(("command -v " + quoted + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string MissingProgramText(const std::string& program) {
  return program + " missing: run scripts/setup";
}

// Every program a shell command starts: the first word of each of its
// commands (after any VAR=value settings), wherever a pipe, a list, a
// subshell or a command substitution begins one, and the command that a
// wrapper (timeout, env, nice, xargs, exec) runs. Quoted text is never
// taken apart.
inline std::vector<std::string> ProgramsOf(const std::string& command) {
  std::vector<std::string> programs;
  std::vector<std::string> words;  // the words of the command being read
  std::string word;
  bool inWord = false;
  auto endWord = [&] {
    if (inWord) words.push_back(word);
    word.clear();
    inWord = false;
  };
  auto endCommand = [&] {
    endWord();
    size_t at = 0;
    auto skipOptions = [&] {
      while (at < words.size() && words[at].size() > 1 && words[at][0] == '-') ++at;
    };
    for (;;) {
      while (at < words.size() && words[at].find('=') != std::string::npos &&
             words[at].find('=') > 0 && words[at][0] != '-')
        ++at;  // VAR=value
      if (at >= words.size()) break;
      const std::string& program = words[at];
      static const char* const kKeywords[] = {"!", "{", "if", "then", "else", "elif", "while", "until", "do"};
      bool keyword = program.empty() || program[0] == '<' || program[0] == '>';
      for (const char* k : kKeywords) keyword |= program == k;
      if (keyword) {
        ++at;
        continue;
      }
      programs.push_back(program);
      ++at;
      if (program == "timeout") {
        while (at < words.size() && words[at].size() > 1 && words[at][0] == '-')
          at += (words[at] == "-s" || words[at] == "-k" || words[at] == "--signal" || words[at] == "--kill-after") ? 2 : 1;
        ++at;  // the duration
      } else if (program == "env") {
        while (at < words.size() && words[at].size() > 1 && words[at][0] == '-')
          at += words[at] == "-u" ? 2 : 1;
      } else if (program == "nice" || program == "xargs" || program == "exec" || program == "stdbuf" ||
                 program == "setsid") {
        skipOptions();
      } else {
        break;
      }
    }
    words.clear();
  };
  // The outer commands' words while a subshell or a substitution is read.
  std::vector<std::vector<std::string>> outer;
  auto open = [&] {
    endWord();
    outer.push_back(std::move(words));
    words.clear();
  };
  auto close = [&] {
    endCommand();
    if (!outer.empty()) {
      words = std::move(outer.back());
      outer.pop_back();
      // A substitution is one word of the outer command.
      if (!words.empty()) words.push_back("$()");
    }
  };
  bool inBackquote = false;
  char quote = 0;
  for (size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (quote) {
      if (c == quote) quote = 0;
      else word += c;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == '\\' && i + 1 < command.size()) {
      word += command[++i];
      inWord = true;
    } else if (c == '$' && i + 1 < command.size() && command[i + 1] == '(') {
      open();
      ++i;
    } else if (c == '(') {
      open();
    } else if (c == ')') {
      close();
    } else if (c == '`') {
      inBackquote ? close() : open();
      inBackquote = !inBackquote;
    } else if (c == '|' || c == ';' || c == '&' || c == '\n') {
      endCommand();
    } else if (c == ' ' || c == '\t') {
      endWord();
    } else if ((c == '>' || c == '<') && !inWord) {
      // A redirection: its target is a file, not a command.
      while (i + 1 < command.size() && (command[i + 1] == '>' || command[i + 1] == '&')) ++i;
      while (i + 1 < command.size() && (command[i + 1] == ' ' || command[i + 1] == '\t')) ++i;
      while (i + 1 < command.size() && command[i + 1] != ' ' && command[i + 1] != '\t' &&
             command[i + 1] != ';' && command[i + 1] != '|' && command[i + 1] != '&')
        ++i;
    } else if ((c == '>' || c == '<') && inWord && !word.empty() && std::isdigit(static_cast<unsigned char>(word.back())) &&
               word.find_first_not_of("0123456789") == std::string::npos) {
      word.clear();  // 2>file: the descriptor's number was no word
      inWord = false;
      --i;
      continue;
    } else {
      word += c;
      inWord = true;
    }
  }
  endCommand();
  return programs;
}

// For the shared helpers that run commands: a failure naming each program
// of the command that is missing. True when they are all there.
inline bool CheckProgramOf(const std::string& command) {
  bool found = true;
  for (const std::string& program : ProgramsOf(command)) {
    if (program == "cd" || ProgramFound(program)) continue;
    ADD_FAILURE() << MissingProgramText(program);
    found = false;
  }
  return found;
}

}  // namespace pwtest
