#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/paths.h"
#include "platform/temp_file.h"
#include "temp_tree.h"

namespace {

using pwtest::ReadAll;
using pwtest::TempTree;

TEST(FolderSearch, PatternsFoldCaseAndStarMatchesDotFiles) {
  struct Case {
    const char* name;
    const char* pattern;
    bool match;
  } cases[] = {
      {"IMG_1.JPG", "*.jpg", true},  {"img_1.jpg", "*.JPG", true},   {"a.jpeg", "*.jpg", false},
      {".hidden", "*", true},        {".hidden", "*.*", true},       {"noext", "*.*", true},
      {"x.jpg.bak", "*.jpg", false}, {"photo.Png", "*.pNG", true},   {"a", "?", true},
      {"ab", "?", false},            {"照片.JPG", "*.jpg", true},    {"log.log", "log.log", true},
  };
  for (const Case& c : cases) EXPECT_EQ(pw::MatchesPattern(c.name, c.pattern), c.match) << c.name << " ~ " << c.pattern;
}

TEST(FolderSearch, ListsRegularFilesSortedAndSkipsFifosAndLinkedFolders) {
  TempTree t;
  t.Write("b.JPG");
  t.Write("a.jpg");
  t.Write("C.jpg");
  t.Write(".dot.jpg");
  t.Write("note.txt");
  t.Mkdir("sub");
  t.Mkdir("Zed");
  ASSERT_EQ(::mkfifo((t / "pipe.jpg").c_str(), 0644), 0);
  ASSERT_EQ(::symlink(t.path().c_str(), (t / "loop").c_str()), 0);      // points back up
  ASSERT_EQ(::symlink((t / "a.jpg").c_str(), (t / "link.jpg").c_str()), 0);
  ASSERT_EQ(::symlink((t / "missing").c_str(), (t / "dangling.jpg").c_str()), 0);

  pw::FolderListing listing;
  ASSERT_TRUE(pw::ListFolder(t.path(), "*.jpg", listing));
  EXPECT_EQ(listing.files, (std::vector<std::string>{".dot.jpg", "C.jpg", "a.jpg", "b.JPG", "link.jpg"}));
  EXPECT_EQ(listing.subfolders, (std::vector<std::string>{"Zed", "sub"}));

  EXPECT_FALSE(pw::ListFolder(t / "nope", "*", listing));
  EXPECT_TRUE(listing.files.empty());
  EXPECT_FALSE(pw::ListFolder("", "*", listing));
  EXPECT_FALSE(pw::ListFolder(t / "a.jpg", "*", listing));
}

TEST(Files, FileExistsOnlyForReadableRegularFiles) {
  TempTree t;
  const std::string file = t.Write("f.bin");
  const std::string locked = t.Write("locked.bin");
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(::mkfifo((t / "fifo").c_str(), 0644), 0);
  EXPECT_TRUE(pw::FileExists(file));
  EXPECT_FALSE(pw::FileExists(t.path()));     // a folder
  EXPECT_FALSE(pw::FileExists(t / "fifo"));   // must not block either
  EXPECT_FALSE(pw::FileExists(t / "missing"));
  EXPECT_FALSE(pw::FileExists(""));
  if (!pwtest::RunningAsRoot()) {
    EXPECT_FALSE(pw::FileExists(locked));
  }
  EXPECT_TRUE(pw::FolderExists(t.path()));
  EXPECT_FALSE(pw::FolderExists(file));
}

TEST(Files, TimesAreSetAndReadToTheNanosecond) {
  TempTree t;
  const std::string file = t.Write("f");
  timespec access{1500000000, 123456789};
  timespec modify{1400000000, 987654321};
  ASSERT_TRUE(pw::SetFileTimes(file, access, modify));
  pw::FileTimes times;
  ASSERT_TRUE(pw::GetFileTimes(file, times));
  EXPECT_EQ(times.access.tv_sec, access.tv_sec);
  EXPECT_EQ(times.access.tv_nsec, access.tv_nsec);
  EXPECT_EQ(times.modification.tv_sec, modify.tv_sec);
  EXPECT_EQ(times.modification.tv_nsec, modify.tv_nsec);
  EXPECT_GT(times.creation.tv_sec, 0);
  EXPECT_FALSE(pw::GetFileTimes(t / "missing", times));
  EXPECT_FALSE(pw::SetFileTimes(t / "missing", access, modify));
  EXPECT_FALSE(pw::SetFileTimes("", access, modify));
}

TEST(Files, ReadOnlyIsTheOwnerWriteBit) {
  TempTree t;
  const std::string file = t.Write("f");
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  EXPECT_TRUE(pw::IsReadOnly(file));
  EXPECT_TRUE(pw::ClearReadOnly(file));
  EXPECT_FALSE(pw::IsReadOnly(file));
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_FALSE(pw::ClearReadOnly(t / "missing"));
}

TEST(Files, MoveNeverReplaces) {
  TempTree t;
  const std::string a = t.Write("a", "AAA");
  const std::string b = t.Write("b", "BBB");
  EXPECT_EQ(pw::MoveFileNoReplace(a, b), EEXIST);
  EXPECT_EQ(ReadAll(a), "AAA");
  EXPECT_EQ(ReadAll(b), "BBB");
  EXPECT_EQ(pw::MoveFileNoReplace(a, t / "c"), 0);
  EXPECT_FALSE(pw::FileExists(a));
  EXPECT_EQ(ReadAll(t / "c"), "AAA");
  EXPECT_NE(pw::MoveFileNoReplace(t / "missing", t / "d"), 0);
  EXPECT_NE(pw::MoveFileNoReplace(t / "c", t / "no/such/folder/c"), 0);
  EXPECT_EQ(ReadAll(t / "c"), "AAA");
  EXPECT_NE(pw::MoveFileNoReplace("", t / "e"), 0);
}

TEST(Files, MoveAcrossFileSystemsCopiesModeAndTimes) {
  TempTree here;
  struct stat a, b;
  if (::stat("/dev/shm", &b) != 0 || ::stat(here.path().c_str(), &a) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "no second file system to move across";
  TempTree there("/dev/shm");
  const std::string src = here.Write("photo.jpg", std::string(3'000'000, 'p'));
  ASSERT_EQ(::chmod(src.c_str(), 0640), 0);
  const timespec access{1300000000, 5}, modify{1200000000, 7};
  ASSERT_TRUE(pw::SetFileTimes(src, access, modify));

  const std::string taken = there.Write("taken.jpg", "keep me");
  EXPECT_EQ(pw::MoveFileNoReplace(src, taken), EEXIST);
  EXPECT_EQ(ReadAll(taken), "keep me");
  EXPECT_TRUE(pw::FileExists(src));

  const std::string dst = there / "photo.jpg";
  ASSERT_EQ(pw::MoveFileNoReplace(src, dst), 0);
  EXPECT_FALSE(pw::FileExists(src));
  EXPECT_EQ(ReadAll(dst), std::string(3'000'000, 'p'));
  struct stat st;
  ASSERT_EQ(::stat(dst.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, modify.tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, modify.tv_nsec);
  // No temporary left behind in the target folder.
  pw::FolderListing listing;
  ASSERT_TRUE(pw::ListFolder(there.path(), "*", listing));
  EXPECT_EQ(listing.files, (std::vector<std::string>{"photo.jpg", "taken.jpg"}));
}

TEST(AtomicFile, ReplacesWholeAndKeepsMode) {
  TempTree t;
  const std::string file = t.Write("settings.ini", "old content");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_TRUE(pw::WriteFileAtomically(file, "new"));
  EXPECT_EQ(ReadAll(file), "new");
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_TRUE(pw::WriteFileAtomically(t / "fresh", std::string("a\0b", 3)));
  EXPECT_EQ(ReadAll(t / "fresh"), std::string("a\0b", 3));

  pw::FolderListing listing;
  ASSERT_TRUE(pw::ListFolder(t.path(), "*", listing));
  EXPECT_EQ(listing.files, (std::vector<std::string>{"fresh", "settings.ini"}));
}

TEST(AtomicFile, FailureLeavesOriginalAndNoTemporary) {
  TempTree t;
  const std::string file = t.Write("photo.jpg", "original");
  {
    pw::AtomicFile f(file);
    ASSERT_TRUE(f.Open());
    ASSERT_TRUE(f.Write("half written"));
    // Dropped without Commit: as if the writer failed midway.
  }
  EXPECT_EQ(ReadAll(file), "original");

  // A target that is a folder cannot be replaced.
  t.Mkdir("folder");
  int err = 0;
  EXPECT_FALSE(pw::WriteFileAtomically(t / "folder", "x", &err));
  EXPECT_NE(err, 0);
  EXPECT_FALSE(pw::WriteFileAtomically("", "x"));
  EXPECT_FALSE(pw::WriteFileAtomically(t / "no/such/folder/f", "x"));

  if (!pwtest::RunningAsRoot()) {
    // A folder that takes no new files: the temporary cannot be made.
    ASSERT_EQ(::chmod(t.path().c_str(), 0555), 0);
    EXPECT_FALSE(pw::WriteFileAtomically(file, "new"));
    ASSERT_EQ(::chmod(t.path().c_str(), 0755), 0);
    EXPECT_EQ(ReadAll(file), "original");
  }
  {
    // Writes that fail midway (file size limit): the original stays whole.
    pwtest::FileSizeLimit limit(4096);
    int err = 0;
    EXPECT_FALSE(pw::WriteFileAtomically(file, std::string(100000, 'n'), &err));
    EXPECT_EQ(err, EFBIG);
  }
  EXPECT_EQ(ReadAll(file), "original");

  pw::FolderListing listing;
  ASSERT_TRUE(pw::ListFolder(t.path(), "*", listing));
  EXPECT_EQ(listing.files, (std::vector<std::string>{"photo.jpg"}));
}

TEST(AtomicFile, WriterByPathThenCommit) {
  TempTree t;
  const std::string file = t.Write("photo.jpg", "original");
  ASSERT_EQ(::symlink(file.c_str(), (t / "link.jpg").c_str()), 0);
  pw::AtomicFile f(t / "link.jpg");
  ASSERT_TRUE(f.Open());
  // A library that opens its output by name and replaces the file.
  ASSERT_EQ(::unlink(f.TempPath().c_str()), 0);
  FILE* out = std::fopen(f.TempPath().c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("rewritten", out);
  std::fclose(out);
  ASSERT_TRUE(f.Commit());
  EXPECT_EQ(ReadAll(file), "rewritten");
  struct stat st;
  ASSERT_EQ(::lstat((t / "link.jpg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
}

TEST(TempFiles, LiveInTmpdirAndVanish) {
  TempTree t;
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", t.path().c_str(), 1);
  std::string path;
  {
    pw::ScopedTempFile temp("x/y");
    ASSERT_TRUE(temp);
    path = temp.path();
    EXPECT_EQ(path.rfind(t.path() + "/x_y-", 0), 0u) << path;
    EXPECT_TRUE(pw::FileExists(path));
  }
  EXPECT_FALSE(pw::FileExists(path));
  FILE* anon = pw::OpenAnonymousTempFile();
  ASSERT_NE(anon, nullptr);
  std::fputs("data", anon);
  std::rewind(anon);
  char buf[8] = {};
  EXPECT_EQ(std::fread(buf, 1, 4, anon), 4u);
  EXPECT_STREQ(buf, "data");
  std::fclose(anon);
  pw::FolderListing listing;
  ASSERT_TRUE(pw::ListFolder(t.path(), "*", listing));
  EXPECT_TRUE(listing.files.empty());
  if (old) ::setenv("TMPDIR", saved.c_str(), 1);
  else ::unsetenv("TMPDIR");
}

TEST(ProgramFolder, HonoursOverrideAndNamesFiles) {
  TempTree t;
  const char* old = std::getenv("PIXELWHARF_HOME");
  const std::string saved = old ? old : "";
  const std::string home = t / "new/home";
  ::setenv("PIXELWHARF_HOME", (home + "/").c_str(), 1);
  EXPECT_EQ(pw::ProgramFolder(), home);
  EXPECT_TRUE(pw::FolderExists(home)) << "created on demand";
  const std::string exe = pw::ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(pw::SettingsFilePath(), home + "/" + exe.substr(exe.rfind('/') + 1) + ".ini");
  std::tm date{};
  date.tm_year = 2018 - 1900;
  date.tm_mon = 2;
  date.tm_mday = 7;
  EXPECT_EQ(pw::RunLogPath(date), home + "/2018年03月07日.log");

  // Without the override: a folder that exists and is writable.
  ::unsetenv("PIXELWHARF_HOME");
  const std::string folder = pw::ProgramFolder();
  EXPECT_TRUE(pw::FolderExists(folder));
  EXPECT_EQ(::access(folder.c_str(), W_OK), 0);
  if (old) ::setenv("PIXELWHARF_HOME", saved.c_str(), 1);
}

}  // namespace

namespace {

TEST(Files, FileSizeOnlyForRegularFiles) {
  TempTree t;
  const std::string file = t.Write("seven.bin", "1234567");
  ASSERT_EQ(::mkfifo((t / "fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink(file.c_str(), (t / "link").c_str()), 0);
  EXPECT_EQ(pw::FileSize(file), 7);
  EXPECT_EQ(pw::FileSize(t / "link"), 7);
  EXPECT_EQ(pw::FileSize(t.Write("empty.bin", "")), 0);
  EXPECT_EQ(pw::FileSize(t.path()), -1);
  EXPECT_EQ(pw::FileSize(t / "fifo"), -1);
  EXPECT_EQ(pw::FileSize(t / "missing"), -1);
  EXPECT_EQ(pw::FileSize(""), -1);
}

TEST(TempFile, SuffixFollowsTheUniquePart) {
  const std::string a = pw::CreateTempFileWithSuffix("pw-test/8bit", ".tif");
  const std::string b = pw::CreateTempFileWithSuffix("pw-test/8bit", ".tif");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(pw::TempFolder() + "/pw-test_8bit-", 0), 0u) << a;
  EXPECT_EQ(a.substr(a.size() - 4), ".tif");
  EXPECT_EQ(pw::FileSize(a), 0);
  ::unlink(a.c_str());
  ::unlink(b.c_str());
}

// What each name function makes of every kind of name; links are looked at
// themselves by the "name" functions and followed by the "file" ones.
TEST(Files, NameFunctionsOnEveryKindOfName) {
  TempTree t;
  const std::string file = t.Write("f.bin", "12345");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  const std::string folder = t.Mkdir("dir");
  ASSERT_EQ(::symlink(file.c_str(), (t / "to-file").c_str()), 0);
  ASSERT_EQ(::symlink(folder.c_str(), (t / "to-dir").c_str()), 0);
  ASSERT_EQ(::symlink((t / "missing").c_str(), (t / "dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo((t / "fifo").c_str(), 0644), 0);
  const std::string real = pw::ResolvedPath(t.path());
  ASSERT_FALSE(real.empty());

  struct Case {
    std::string name;
    pw::NameKind kind;
    bool taken, link;
    std::string resolved;  // relative to the resolved tree, "" when it does not resolve
    bool regularMode;      // RegularFileMode answers (with 0640)
  } cases[] = {
      {"f.bin", pw::NameKind::kFile, true, false, "/f.bin", true},
      {"dir", pw::NameKind::kOther, true, false, "/dir", false},
      {"to-file", pw::NameKind::kOther, true, true, "/f.bin", true},
      {"to-dir", pw::NameKind::kOther, true, true, "/dir", false},
      {"dangling", pw::NameKind::kOther, true, true, "", false},
      {"fifo", pw::NameKind::kOther, true, false, "/fifo", false},
      {"missing", pw::NameKind::kNone, false, false, "", false},
      {"dir/../f.bin", pw::NameKind::kFile, true, false, "/f.bin", true},
  };
  for (const Case& c : cases) {
    const std::string path = t / c.name;
    EXPECT_EQ(pw::KindOfName(path), c.kind) << c.name;
    EXPECT_EQ(pw::NameTaken(path), c.taken) << c.name;
    EXPECT_EQ(pw::IsSymbolicLink(path), c.link) << c.name;
    EXPECT_EQ(pw::ResolvedPath(path), c.resolved.empty() ? "" : real + c.resolved) << c.name;
    mode_t mode = 0;
    EXPECT_EQ(pw::RegularFileMode(path, mode), c.regularMode) << c.name;
    if (c.regularMode) {
      EXPECT_EQ(mode, mode_t(0640)) << c.name;
    }
  }
  EXPECT_EQ(pw::KindOfName(""), pw::NameKind::kNone);
  EXPECT_FALSE(pw::NameTaken(""));
  EXPECT_EQ(pw::ResolvedPath(""), "");

  // The mode is set on the file a link names.
  ASSERT_TRUE(pw::SetFileMode(t / "to-file", 0604));
  mode_t mode = 0;
  ASSERT_TRUE(pw::RegularFileMode(file, mode));
  EXPECT_EQ(mode, mode_t(0604));
  EXPECT_FALSE(pw::SetFileMode(t / "missing", 0644));
}

TEST(Files, RemovingNeverFollowsALink) {
  TempTree t;
  const std::string file = t.Write("f.bin", "keep");
  const std::string folder = t.Mkdir("dir");
  t.Write("full/x", "x");
  ASSERT_EQ(::symlink(file.c_str(), (t / "to-file").c_str()), 0);
  ASSERT_EQ(::symlink(folder.c_str(), (t / "to-dir").c_str()), 0);
  ASSERT_EQ(::symlink((t / "missing").c_str(), (t / "dangling").c_str()), 0);

  EXPECT_TRUE(pw::RemoveFile(t / "to-file"));
  EXPECT_FALSE(pw::NameTaken(t / "to-file"));
  EXPECT_EQ(ReadAll(file), "keep");
  EXPECT_TRUE(pw::RemoveFile(t / "dangling"));
  EXPECT_FALSE(pw::NameTaken(t / "dangling"));
  EXPECT_TRUE(pw::RemoveFile(t / "to-dir"));
  EXPECT_TRUE(pw::FolderExists(folder));
  EXPECT_FALSE(pw::RemoveFile(folder));
  EXPECT_FALSE(pw::RemoveFile(t / "missing"));
  EXPECT_FALSE(pw::RemoveFile(""));

  EXPECT_FALSE(pw::RemoveEmptyFolder(t / "full"));
  EXPECT_EQ(ReadAll(t / "full/x"), "x");
  EXPECT_FALSE(pw::RemoveEmptyFolder(file));
  EXPECT_TRUE(pw::FileExists(file));
  EXPECT_TRUE(pw::RemoveEmptyFolder(folder));
  EXPECT_FALSE(pw::NameTaken(folder));
}

TEST(Files, CopyContentsFillsAnExistingFileOnly) {
  TempTree t;
  const std::string from = t.Write("from.bin", "new");
  const std::string to = t.Write("to.bin", "much longer old content");
  ASSERT_EQ(::chmod(to.c_str(), 0600), 0);
  struct stat before;
  ASSERT_EQ(::stat(to.c_str(), &before), 0);

  ASSERT_TRUE(pw::CopyFileContents(from, to));
  EXPECT_EQ(ReadAll(to), "new");  // nothing of the longer old content is left
  struct stat after;
  ASSERT_EQ(::stat(to.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // the same file, filled anew
  EXPECT_EQ(after.st_mode & 07777, mode_t(0600));

  EXPECT_FALSE(pw::CopyFileContents(from, t / "absent.bin"));
  EXPECT_FALSE(pw::NameTaken(t / "absent.bin"));
  // A source that does not open leaves the target as it was.
  EXPECT_FALSE(pw::CopyFileContents(t / "missing", to));
  EXPECT_EQ(ReadAll(to), "new");
  EXPECT_FALSE(pw::CopyFileContents(from, t.path()));
}

TEST(Files, ReplaceFileWithRenamesOverAFile) {
  TempTree t;
  const std::string from = t.Write("new.bin", "new");
  const std::string to = t.Write("old.bin", "old content");
  ASSERT_TRUE(pw::ReplaceFileWith(from, to));
  EXPECT_EQ(ReadAll(to), "new");
  EXPECT_FALSE(pw::NameTaken(from));

  EXPECT_FALSE(pw::ReplaceFileWith(t / "missing", to));
  EXPECT_EQ(ReadAll(to), "new");
  EXPECT_FALSE(pw::ReplaceFileWith("", to));
  EXPECT_FALSE(pw::ReplaceFileWith(to, ""));
  EXPECT_EQ(ReadAll(to), "new");
}

TEST(Files, FlushingNeedsTheRightKindOfName) {
  TempTree t;
  const std::string file = t.Write("f.bin");
  EXPECT_TRUE(pw::FlushFileToDisk(file));
  EXPECT_TRUE(pw::FlushFolderToDisk(t.path()));
  EXPECT_FALSE(pw::FlushFolderToDisk(file));
  EXPECT_FALSE(pw::FlushFileToDisk(t / "missing"));
  EXPECT_FALSE(pw::FlushFolderToDisk(""));
}

}  // namespace
