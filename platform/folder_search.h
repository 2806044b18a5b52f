// Listing one folder, as the Windows find-first/find-next search did, with
// the differences this platform needs: patterns match case-insensitively,
// only regular files are listed (no FIFOs, sockets or devices, which would
// block or make no sense as pictures), sub-folders reached through symbolic
// links are not offered for descent (no loops), and names come sorted by
// byte order so runs and logs are reproducible.
#pragma once

#include <string>
#include <vector>

namespace pw {

// True when the file name matches the pattern ("*", "?", "[...]"), ignoring
// letter case. "*" and "*.*" match every name, dot files included.
bool MatchesPattern(const std::string& name, const std::string& pattern);

struct FolderListing {
  std::vector<std::string> files;       // regular files (or links to them) matching the pattern
  std::vector<std::string> subfolders;  // real sub-folders, not links, without "." and ".."
};

// Lists the names (not paths) in `folder`. Returns false, with an empty
// listing, when the folder cannot be opened (missing, not a folder, no
// permission, empty path).
bool ListFolder(const std::string& folder, const std::string& pattern, FolderListing& out);

}  // namespace pw
