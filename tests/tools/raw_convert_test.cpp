// The conversion tool over a folder holding a DNG written by the tests: the
// camera file becomes a JPEG as any picture the tool reads does.
#include <gtest/gtest.h>

#include "tests/imagelib/raw_dng_writer.h"
#include "tests/tools/tool_tree.h"
#include "tools/Convertor.h"
#include "tools/ToolRun.h"

using namespace tooltest;

TEST(ConvertRaw, FolderWithADngGivesAJpeg) {
  char tmpl[] = "/tmp/pw_rawconv_XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string photos = dir + "/photos";
  fs::create_directories(photos);
  dngtest::DngSpec spec;
  spec.lossless = true;
  spec.orientation = 6;
  const std::vector<uint8_t> dng = dngtest::WriteDng(spec);
  std::ofstream(photos + "/shot.dng", std::ios::binary)
      .write(reinterpret_cast<const char*>(dng.data()), std::streamsize(dng.size()));

  g_ConvertKeepModifyTime = true;
  g_ConvertSetPhotoTime = false;
  g_ConvertGrayscale = false;
  ConvertRequest request;
  request.sources = SplitSources(W(photos));
  request.patterns = {L"*.dng"};
  request.targets.jpg = true;
  request.threadCount = 4;
  const ConvertOutcome outcome = RunConvert(request, nullptr, nullptr);
  EXPECT_EQ(outcome.done, 1u);
  EXPECT_EQ(outcome.failed, 0u);
  const std::string jpg = photos + "/JPG/shot.jpg";
  // Turned by its orientation: 48 wide, 64 high.
  EXPECT_EQ(Identify(jpg), "48x64;");
  EXPECT_EQ(ReadFile(photos + "/log.log"), photos + "/shot.dng->" + jpg + "\n");
  // The red patch lies at the top right of the turned picture.
  const std::string pixel =
      Shell("convert-im6.q16 " + Quote(jpg) + " -format '%[fx:int(255*p{36,32}.r)] "
            "%[fx:int(255*p{36,32}.g)]' info:");
  int r = 0, g = 0;
  ASSERT_EQ(sscanf(pixel.c_str(), "%d %d", &r, &g), 2) << pixel;
  EXPECT_GT(r, g + 50) << pixel;
  fs::remove_all(dir);
}
