// Reads one metafile the way an installed program does and says which
// player it found and how the picture came out: the installed-layout test
// copies this program into an installation's bin folder and runs it there.
#include <cstdio>
#include <filesystem>

#include "imagelib/MetafilePlayback.h"
#include "imagelib/PxImage.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::printf("player %s\n", std::filesystem::weakly_canonical(metafile::PlayerPath()).c_str());
  PxImage image;
  if (!image.LoadFile(pw::NarrowToWide(argv[1]), kFormatWmf)) {
    std::printf("failed: %s\n", image.LastError());
    return 1;
  }
  // The row 20 pixels below the top, in the middle: red in upper.wmf.
  const RGBQUAD c = image.PixelColorAt(static_cast<int32_t>(image.Width() / 2),
                                       static_cast<int32_t>(image.Height()) - 1 - 20, false);
  const bool red = c.rgbRed == 255 && c.rgbGreen == 0 && c.rgbBlue == 0;
  std::printf("picture %ux%u %s at the top\n", image.Width(), image.Height(), red ? "red" : "not red");
  return 0;
}
