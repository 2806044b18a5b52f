// MNG and JNG pictures (format id 17) through libmng: the library displays
// the animation into a 24-bit canvas with a separate alpha canvas, and the
// reader keeps the frame the frame field asks for. The writer stores one
// 24-bit picture as IHDR, IDAT, IEND through libmng's chunk interface.
#pragma once

#include <cstdint>
#include <vector>

#include "imagelib/PxImage.h"

// What libmng's callbacks work on, reached through the handle's user data.
struct MngStreamInfo {
  PxFile* file = nullptr;
  std::vector<uint8_t> input;   // the prepared chunk list libmng reads
  size_t inputAt = 0;
  uint64_t fileBytes = 0;       // size of the file as it came: the work it may cause
  std::vector<uint8_t> canvas;  // rows bottom-up, `stride` bytes each, blue-green-red after the swap
  std::vector<uint8_t> alpha;   // rows bottom-up, `width` bytes each
  uint32_t delay = 0;           // the last delay libmng asked to wait
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
  uint32_t bpp = 24;
  int32_t backgroundIndex = -1;
  RGBQUAD background{0, 0, 0, 0};
  bool tooLarge = false;        // the header asked for more than the container holds
};

// Every block libmng allocates for one handle, linked so that whatever the
// library forgets to free (it loses row buffers on some broken JNG data) is
// freed with the handle.
struct MngArena {
  struct Block;
  Block* head = nullptr;
  ~MngArena();
};

class PxImageMNG : public PxImage {
 public:
  PxImageMNG();
  ~PxImageMNG() override;
  PxImageMNG(const PxImageMNG&) = delete;
  PxImageMNG& operator=(const PxImageMNG&) = delete;

  bool Decode(PxFile* file);
  bool Encode(PxFile* file);

 private:
  MngArena arena_;          // outlives the handle: declared first
  void* handle_ = nullptr;  // mng_handle, null until a read or write makes one
  MngStreamInfo stream_;
};

// Most frames the reader counts: an animation that loops without end (or
// for 2^31 rounds) is counted once and no further.
constexpr int32_t kMngMaxFrames = 100000;
