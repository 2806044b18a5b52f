// Shared helpers of the tool tests: shell commands for the peer programs
// that make fixtures, and a digest of a whole folder tree.
#pragma once
#include "tests/needed_programs.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/text.h"
#include "tests/platform/temp_tree.h"

namespace tooltest {

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline bool Sh(const std::string& command) {
  if (!pwtest::CheckProgramOf(command)) return false;
  const int rc = std::system((command + " >/dev/null 2>&1").c_str());
  return rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

inline std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  ::pclose(p);
  return out;
}

// Every path below `root` with its kind and mode, every file's modification
// time and contents: two trees with the same digest hold the same files with
// the same names, times and bytes.
inline std::string TreeDigest(const std::string& root) {
  const std::string digest = Capture("cd " + Quote(root) +
                 " && { find . -printf '%p %y %m\\n'; find . -type f -printf '%p %T@\\n';"
                 " find . -type f -exec sha256sum {} +; } | LC_ALL=C sort | sha256sum");
  // "<64 hex digits>  -\n"; anything else means the tree could not be read.
  if (digest.size() != 68) ADD_FAILURE() << "no digest of " << root << ": [" << digest << "]";
  return digest;
}

inline std::string Listing(const std::string& root) {
  return Capture("cd " + Quote(root) + " && find . | LC_ALL=C sort");
}

inline std::wstring W(const std::string& s) { return pw::NarrowToWide(s); }

}  // namespace tooltest
