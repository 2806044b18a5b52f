// GIF to GIF frame by frame. Kept apart from the other picture operations
// because it drives the GIF writer's frame-list form directly.
#include "tools/PictureOps.h"

#if __has_include("imagelib/PxImageGIF.h")
#define PW_HAVE_GIF_WRITER 1
#endif

bool ConvertGifFrames(const std::wstring& source, const std::wstring& target, int32_t width,
                      int32_t height, bool grey, CProgressInterface* progress) {
#ifndef PW_HAVE_GIF_WRITER
  // The image library of this build has no GIF writer: nothing is written.
  (void)source, (void)target, (void)width, (void)height, (void)grey, (void)progress;
  return false;
#else
#error "wire the frame-list GIF writer here"
#endif
}
