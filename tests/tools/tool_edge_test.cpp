// The batch tools on the awkward parts of a real photo tree and machine:
// working files left by killed runs, a "log.log" the user keeps, a file-size
// limit, damaged pictures in overwrite mode, receiving JPEGs whose image
// data must not change, and pictures reached through symbolic links.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "core/PathHelpers.h"
#include "imagelib/PxImage.h"
#include "platform/working_file.h"
#include "tests/tools/resize_rule.h"
#include "tests/tools/tool_tree.h"
#include "tools/ClassifyTool.h"
#include "tools/CloneExif.h"
#include "tools/Convertor.h"
#include "tools/MergeTool.h"
#include "tools/MoveLog.h"
#include "tools/ResizePictures.h"

using namespace tooltest;

namespace {

bool Sh(const std::string& command) {
  int status = 0;
  Shell(command + " >/dev/null 2>&1", &status);
  return status == 0;
}

void Jpeg(const std::string& path, const std::string& make = "", const std::string& extra = "") {
  fs::create_directories(fs::path(path).parent_path());
  ASSERT_TRUE(Sh("convert-im6.q16 -size 48x32 gradient:red-blue " + extra + " " + Quote(path)));
  if (!make.empty()) {
    ASSERT_TRUE(Sh("exiftool -q -overwrite_original -Make=" + make + " " + Quote(path)));
  }
}

RunReport Resize(const std::string& folder, bool overwrite) {
  SetResizeRule(true, false, false, 24, 24);
  ResizeRequest request;
  request.sources = SplitSources(W(folder));
  request.patterns = {L"*.jpg", L"*.png", L"*.tif"};
  request.overwrite = overwrite;
  request.threadCount = 2;
  return RunResize(request, nullptr, nullptr).report;
}

RunReport Convert(const std::string& folder) {
  ConvertRequest request;
  request.sources = SplitSources(W(folder));
  request.patterns = {L"*.jpg", L"*.png"};
  request.targets.bmp = true;
  request.sameFolder = true;
  request.threadCount = 2;
  return RunConvert(request, nullptr, nullptr).report;
}

RunReport Merge(const std::string& folder) {
  MergeRequest request;
  request.sources = SplitSources(W(folder));
  request.patterns = {L"*.jpg", L"*.png"};
  return RunMerge(request, nullptr, nullptr).report;
}

RunReport Sort(const std::string& folder) {
  ClassifyRequest request;
  request.mode = ClassifyMode::kCustom;
  request.patterns = {L"*.*"};
  request.sources = SplitSources(W(folder));
  return RunClassify(request, nullptr, nullptr).report;
}

// Clones from a source tree beside the folder, made with the same names.
RunReport Clone(const std::string& folder) {
  const std::string source = folder + "-source";
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".jpg" && entry.path().filename().string()[0] != '.')
      Jpeg(source + "/" + entry.path().filename().string(), "Source");
  return RunCloneExifBatch(W(source), W(folder), {L"*.jpg"}, 2, nullptr, nullptr).report;
}

struct ToolCase {
  const char* name;
  std::function<RunReport(const std::string&)> run;
  bool writesResultLog;
};

const ToolCase kTools[] = {
    {"sort", Sort, false},
    {"resize", [](const std::string& f) { return Resize(f, false); }, true},
    {"convert", Convert, true},
    {"clone", Clone, true},
    {"merge", Merge, true},
};

TEST(ToolEdges, WorkingFilesOfKilledRunsAreIgnoredAndCleaned) {
  TreeCopy tree;
  for (const ToolCase& tool : kTools) {
    SCOPED_TRACE(tool.name);
    const std::string folder = tree / tool.name;
    Jpeg(folder + "/a.jpg");
    Jpeg(folder + "/b.jpg");
    // Left by a killed run: empty, nobody holds it.
    { std::ofstream(folder + "/.pixelwharf-dead01.jpg"); }
    { std::ofstream(folder + "/sub/.pixelwharf-dead02.png"); }
    // Being written by a running process of ours.
    std::string live = folder + "/.pixelwharf-liveXXXXXX.jpg";
    const int held = pw::CreateWorkingFile(live, 4);
    ASSERT_GE(held, 0);
    const RunReport report = tool.run(folder);
    EXPECT_EQ(report.failed, 0u);
    EXPECT_FALSE(fs::exists(folder + "/.pixelwharf-dead01.jpg"));
    EXPECT_FALSE(fs::exists(folder + "/sub/.pixelwharf-dead02.png"));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_EQ(ReadFile(folder + "/log.log").find(".pixelwharf"), std::string::npos);
    ::close(held);
    ::unlink(live.c_str());
  }
}

TEST(ToolEdges, ALogLogNoToolWroteIsNeverReplaced) {
  TreeCopy tree;
  const std::string kept[] = {
      "my own notes\n",
      pw::WideToNarrow(kMoveLogHeader) + "\n/x/a.jpg->/x/201607/a.jpg\n",  // the sort's way back
  };
  int n = 0;
  for (const std::string& content : kept) {
    for (const ToolCase& tool : kTools) {
      if (!tool.writesResultLog) continue;
      SCOPED_TRACE(std::string(tool.name) + " beside " + content);
      const std::string folder = tree / (tool.name + std::to_string(n));
      Jpeg(folder + "/a.jpg");
      { std::ofstream(folder + "/log.log") << content; }
      const RunReport report = tool.run(folder);
      EXPECT_EQ(ReadFile(folder + "/log.log"), content);
      EXPECT_NE(ReadFile(folder + "/log-1.log").find(folder), std::string::npos);
      EXPECT_EQ(report.renamedLogs, std::vector<std::wstring>{W(folder + "/log-1.log")});
      // A second run replaces its own result log, not the other file.
      EXPECT_EQ(tool.run(folder).renamedLogs, std::vector<std::wstring>{W(folder + "/log-1.log")});
      EXPECT_EQ(ReadFile(folder + "/log.log"), content);
      EXPECT_FALSE(fs::exists(folder + "/log-2.log"));
    }
    ++n;
  }
}

TEST(ToolEdges, AWriteBeyondTheFileSizeLimitFailsForThatFileOnly) {
  TreeCopy tree;
  const std::string folder = tree / "limited";
  fs::create_directories(folder);
  ASSERT_TRUE(Sh("convert-im6.q16 -size 8x8 xc:red " + Quote(folder + "/small.png")));
  ASSERT_TRUE(Sh("convert-im6.q16 -size 300x300 plasma:fractal " + Quote(folder + "/big.png")));
  // 270 KB as BMP: beyond the limit. The child reports what it saw by its
  // exit code; SIGXFSZ would kill it instead.
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const RunReport report = Convert(folder);
    const bool ok = report.failed == 1 && fs::exists(folder + "/small.bmp") &&
                    !fs::exists(folder + "/big.bmp") && StagedLeftovers(folder).empty() &&
                    ReadFile(folder + "/log.log").find("Convert" + folder + "/big.png Failed!") !=
                        std::string::npos;
    ::_exit(ok ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ToolEdges, ADamagedPictureNeverReplacesItsOriginal) {
  TreeCopy tree;
  const std::string folder = tree / "damaged";
  fs::create_directories(folder);
  fs::copy_file(tree / "photos/broken.jpg", folder + "/cut.jpg");  // cut off in its scan
  ASSERT_TRUE(Sh("/usr/bin/python3 -c \"from PIL import Image; "
                  "Image.new('RGB', (64, 64), (200, 10, 10)).save('" + folder + "/whole.tif')\""));
  fs::copy_file(folder + "/whole.tif", folder + "/cut.tif");
  fs::resize_file(folder + "/cut.tif", fs::file_size(folder + "/whole.tif") / 2);  // strip cut off
  fs::copy_file(tree / "photos/le.jpg", folder + "/whole.jpg");

  struct Case {
    const char* name;
    bool damaged;
  } cases[] = {{"cut.jpg", true}, {"cut.tif", true}, {"whole.jpg", false}, {"whole.tif", false}};
  PxImage image;  // one object for all: the mark is reset at every decode
  std::map<std::string, std::string> before;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(image.LoadFile(W(folder + "/" + c.name), kFormatUnknown));
    EXPECT_EQ(image.IsDamaged(), c.damaged);
    before[c.name] = ReadFile(folder + "/" + c.name);
  }
  const RunReport report = Resize(folder, true);
  EXPECT_EQ(report.failed, 2u);
  const std::string log = ReadFile(folder + "/log.log");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder + "/" + c.name;
    EXPECT_EQ(ReadFile(path) == before[c.name], c.damaged);
    EXPECT_EQ(log.find("Resize" + path + " Failed!") != std::string::npos, c.damaged) << log;
  }
}

// Beside the original a damaged picture is still resized or converted, and
// its log line and the end box say the source was damaged.
TEST(ToolEdges, ADamagedSourceIsToldInTheLogAndTheEndBox) {
  const struct {
    const char* tool;
    std::function<RunReport(const std::string&)> run;
    const char* resultSuffix;
  } cases[] = {
      {"resize", [](const std::string& f) { return Resize(f, false); }, "morvalen.jpg"},
      {"convert", Convert, ".bmp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tool);
    TreeCopy tree;
    const std::string folder = tree / "damaged";
    fs::create_directories(folder);
    fs::copy_file(tree / "photos/broken.jpg", folder + "/cut.jpg");  // cut off in its scan
    fs::copy_file(tree / "photos/le.jpg", folder + "/whole.jpg");
    const RunReport report = c.run(folder);
    const std::string cut = folder + "/cut.jpg", whole = folder + "/whole.jpg";
    const std::string cutResult = folder + "/cut" + c.resultSuffix;
    const std::string wholeResult = folder + "/whole" + c.resultSuffix;
    EXPECT_TRUE(fs::exists(cutResult));
    EXPECT_EQ(report.failed, 0u);
    EXPECT_EQ(report.damagedSources, std::vector<std::wstring>{W(cut)});
    const std::string log = ReadFile(folder + "/log.log");
    EXPECT_NE(log.find(cut + "->" + cutResult + N(kDamagedSourceMark) + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find(whole + "->" + wholeResult + "\n"), std::string::npos) << log;
    const std::string box = N(RunReportText(report));
    EXPECT_NE(box.find("以下源文件已损坏，结果不完整：\n  " + cut + "\n"), std::string::npos) << box;
    EXPECT_EQ(box.find(whole), std::string::npos) << box;
  }
}

TEST(ToolEdges, CloningKeepsAReceivingJpegsImageDataByteForByte) {
  TreeCopy tree;
  const std::string source = tree / "source", receiving = tree / "receiving";
  struct Case {
    const char* name;
    const char* make;
  } cases[] = {
      {"full chroma.jpg", "-sampling-factor 1x1 -quality 97"},
      {"subsampled.jpg", "-sampling-factor 2x2 -quality 80"},
      {"with own exif.jpg", "-quality 90"},
  };
  std::map<std::string, std::string> before;
  for (const Case& c : cases) {
    Jpeg(source + "/" + c.name, "Source");
    Jpeg(receiving + "/" + c.name, "", c.make);
    before[c.name] = ImageData(ReadFile(receiving + "/" + c.name));
  }
  ASSERT_TRUE(Sh("exiftool -q -overwrite_original -Model=Own " +
                  Quote(receiving + "/with own exif.jpg")));
  const CloneBatchOutcome outcome =
      RunCloneExifBatch(W(source), W(receiving), {L"*.jpg"}, 2, nullptr, nullptr);
  EXPECT_EQ(outcome.done, std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = receiving + "/" + c.name;
    EXPECT_EQ(Tag(path, "Make"), "Source");
    EXPECT_EQ(ImageData(ReadFile(path)), before[c.name]);
  }
}

TEST(ToolEdges, OverwritingThroughALinkReplacesTheFileAndKeepsTheLink) {
  TreeCopy tree;
  struct Case {
    const char* name;
    std::function<RunReport(const std::string&)> run;
    std::function<bool(const std::string&)> rewritten;
  } cases[] = {
      {"resize", [](const std::string& f) { return Resize(f, true); },
       [](const std::string& p) { return Identify(p) == "24x16;"; }},
      {"clone", Clone, [](const std::string& p) { return Tag(p, "Make") == "Source"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string links = tree / (std::string(c.name) + "-links");
    const std::string real = tree / (std::string(c.name) + "-real") + "/a.jpg";
    Jpeg(real);
    fs::create_directories(links);
    fs::create_symlink(real, links + "/a.jpg");
    EXPECT_EQ(c.run(links).failed, 0u);
    EXPECT_TRUE(fs::is_symlink(links + "/a.jpg"));
    EXPECT_EQ(fs::read_symlink(links + "/a.jpg"), real);
    EXPECT_TRUE(c.rewritten(real));
    EXPECT_TRUE(StagedLeftovers(tree.path()).empty());
  }
}

}  // namespace
