// The programs a test's shell command needs are all found, not only the
// first: a tool missing later in a pipeline would otherwise fail as a
// wrong result instead of by its name.
#include "tests/needed_programs.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

using Programs = std::vector<std::string>;

TEST(NeededPrograms, EveryCommandOfAPipelineListOrSubshellIsFound) {
  struct Case {
    const char* command;
    Programs programs;
  };
  const Case cases[] = {
      {"convert a.png b.tif", {"convert"}},
      {"LANG=C exiftool -j a.jpg | python3 -c 'import json; print(1|2)'", {"exiftool", "python3"}},
      {"cd '/tmp/x y' && gdal_translate a b >/dev/null 2>&1 || tiffinfo b", {"cd", "gdal_translate", "tiffinfo"}},
      {"identify -format '%w;%h' \"a b.png\" 2>/dev/null; exiv2 -pa a", {"identify", "exiv2"}},
      {"(cd d; tar cf - .) | gzip > out.tgz", {"cd", "tar", "gzip"}},
      {"test $(identify -format %n a.gif) = 3", {"identify", "test"}},
      {"timeout -s KILL 30 xdotool search --name x", {"timeout", "xdotool"}},
      {"env -u DISPLAY FOO=1 xvfb-run -a prog", {"env", "xvfb-run"}},
      {"for f in *.png; do pngcheck \"$f\"; done", {"for", "pngcheck", "done"}},
      {"'/usr/bin/my tool' --x", {"/usr/bin/my tool"}},
  };
  for (const Case& c : cases) EXPECT_EQ(pwtest::ProgramsOf(c.command), c.programs) << c.command;
}

TEST(NeededPrograms, AMissingProgramLaterInThePipelineIsNamed) {
  // A failure is what the check reports; seen here through a spy.
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter spy(::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                                                     &failures);
    EXPECT_FALSE(pwtest::CheckProgramOf("sh -c true | no-such-program-pw41 -x | cat"));
    EXPECT_TRUE(pwtest::CheckProgramOf("sh -c true | cat"));
  }
  ASSERT_EQ(failures.size(), 1);
  EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find("no-such-program-pw41 missing: run scripts/setup"),
            std::string::npos);
}

}  // namespace
