// MNG and JNG through libmng. The library reads through our callbacks, draws
// each frame into the canvas of MngStreamInfo and asks for a timer between
// frames; the reader does not wait, it resumes at once and counts. libmng
// cannot go back, so the frame asked for is copied out while counting.
#include "imagelib/PxImageMNG.h"

#include "imagelib/PxImageMNGChunks.h"

// libmng's headers use FILE without including <cstdio>.
#include <cstdio>
#include <libmng.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

// Frames of a big canvas cost time to compose: counting stops once this
// many canvas bytes have been drawn (more for a larger file), whatever the
// frame count.
constexpr uint64_t kMinDrawnBytes = uint64_t{1} << 29;
constexpr uint64_t kDrawnBytesPerFileByte = 4096;
// A canvas of up to this many pixels may come from any file; beyond it each
// byte of the file may stand for this many pixels (a deflated 1-bit row of
// one colour reaches about 8000 pixels a byte).
constexpr uint64_t kFreeCanvasPixels = uint64_t{1} << 24;
constexpr uint64_t kCanvasPixelsPerFileByte = 16384;
// No buffer of a picture the container can hold is larger than this: a
// request beyond it (a magnified object, say) fails as out of memory.
constexpr size_t kMaxLibraryBlock = size_t{1} << 28;

MngStreamInfo* InfoOf(mng_handle handle) { return static_cast<MngStreamInfo*>(mng_get_userdata(handle)); }

// The arena of the handle being worked on by this thread: libmng's memory
// callbacks carry no handle.
thread_local MngArena* t_arena = nullptr;

class ArenaScope {
 public:
  explicit ArenaScope(MngArena* arena) : saved_(t_arena) { t_arena = arena; }
  ~ArenaScope() { t_arena = saved_; }
  ArenaScope(const ArenaScope&) = delete;
  ArenaScope& operator=(const ArenaScope&) = delete;

 private:
  MngArena* saved_;
};

}  // namespace

// Sits before each block; 32 bytes keep the block's own alignment.
struct alignas(16) MngArena::Block {
  Block* prev;
  Block* next;
  MngArena* owner;
};

MngArena::~MngArena() {
  while (head) {
    Block* next = head->next;
    std::free(head);
    head = next;
  }
}

namespace {

mng_ptr MngAllocProc(mng_size_t size) {
  if (size > kMaxLibraryBlock) return nullptr;
  auto* block = static_cast<MngArena::Block*>(std::calloc(1, sizeof(MngArena::Block) + size));
  if (!block) return nullptr;
  if (MngArena* arena = t_arena) {
    block->owner = arena;
    block->next = arena->head;
    if (arena->head) arena->head->prev = block;
    arena->head = block;
  }
  return block + 1;
}

void MngFreeProc(mng_ptr pointer, mng_size_t) {
  if (!pointer) return;
  MngArena::Block* block = static_cast<MngArena::Block*>(pointer) - 1;
  if (MngArena* arena = block->owner) {
    if (block->prev) block->prev->next = block->next;
    else arena->head = block->next;
    if (block->next) block->next->prev = block->prev;
  }
  std::free(block);
}

mng_bool MngOpenStreamProc(mng_handle) { return MNG_TRUE; }
mng_bool MngCloseStreamProc(mng_handle) { return MNG_TRUE; }

// libmng reads the prepared copy of the file (PxImageMNGChunks.h).
mng_bool MngReadProc(mng_handle handle, mng_ptr buffer, mng_uint32 size, mng_uint32p count) {
  MngStreamInfo* s = InfoOf(handle);
  *count = 0;
  if (!s || s->inputAt >= s->input.size()) return MNG_TRUE;
  const size_t n = std::min<size_t>(size, s->input.size() - s->inputAt);
  std::memcpy(buffer, s->input.data() + s->inputAt, n);
  s->inputAt += n;
  *count = static_cast<mng_uint32>(n);
  return MNG_TRUE;
}

mng_bool MngWriteProc(mng_handle handle, mng_ptr buffer, mng_uint32 size, mng_uint32p count) {
  MngStreamInfo* s = InfoOf(handle);
  *count = s && s->file ? static_cast<mng_uint32>(s->file->WriteBlock(buffer, 1, size)) : 0;
  // A short write is a failed write: libmng gives up on the stream.
  return *count == size ? MNG_TRUE : MNG_FALSE;
}

mng_bool MngHeaderProc(mng_handle handle, mng_uint32 width, mng_uint32 height) {
  MngStreamInfo* s = InfoOf(handle);
  if (!s) return MNG_FALSE;
  const uint64_t stride = ((uint64_t{width} * 24 + 31) / 32) * 4;
  // A canvas the file's bytes cannot justify is refused before it costs
  // memory and a repaint for every frame.
  const uint64_t pixels = uint64_t{width} * height;
  const uint64_t allowed = std::max(kFreeCanvasPixels, s->fileBytes * kCanvasPixelsPerFileByte);
  if (width == 0 || height == 0 || stride * height > kPxImageMaxBytes || pixels > kPxImageMaxBytes ||
      pixels > allowed) {
    s->tooLarge = true;
    return MNG_FALSE;
  }
  try {
    s->canvas.assign(static_cast<size_t>(stride * height), 0);
    s->alpha.assign(size_t{width} * height, 0);
  } catch (const std::bad_alloc&) {
    s->tooLarge = true;
    return MNG_FALSE;
  }
  s->width = width;
  s->height = height;
  s->stride = static_cast<uint32_t>(stride);
  s->bpp = 24;
  // Later images of the stream may not be larger than the canvas.
  mng_set_maxcanvassize(handle, width, height);
  mng_set_canvasstyle(handle, MNG_CANVAS_RGB8_A8);
  return MNG_TRUE;
}

mng_ptr MngCanvasLineProc(mng_handle handle, mng_uint32 line) {
  MngStreamInfo* s = InfoOf(handle);
  if (!s || line >= s->height || s->canvas.empty()) return nullptr;
  return s->canvas.data() + size_t{s->height - line - 1} * s->stride;
}

mng_ptr MngAlphaLineProc(mng_handle handle, mng_uint32 line) {
  MngStreamInfo* s = InfoOf(handle);
  if (!s || line >= s->height || s->alpha.empty()) return nullptr;
  return s->alpha.data() + size_t{s->height - line - 1} * s->width;
}

mng_bool MngRefreshProc(mng_handle, mng_uint32, mng_uint32, mng_uint32, mng_uint32) { return MNG_TRUE; }

mng_uint32 MngTickCountProc(mng_handle) {
  using namespace std::chrono;
  return static_cast<mng_uint32>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

mng_bool MngSetTimerProc(mng_handle handle, mng_uint32 delay) {
  if (MngStreamInfo* s = InfoOf(handle)) s->delay = delay;
  return MNG_TRUE;
}

mng_bool MngErrorProc(mng_handle, mng_int32, mng_int8, mng_chunkid, mng_uint32, mng_int32, mng_int32, mng_pchar) {
  return MNG_FALSE;
}

void InstallMngCallbacks(mng_handle handle) {
  mng_setcb_errorproc(handle, MngErrorProc);
  mng_setcb_openstream(handle, MngOpenStreamProc);
  mng_setcb_closestream(handle, MngCloseStreamProc);
  mng_setcb_readdata(handle, MngReadProc);
  mng_setcb_processheader(handle, MngHeaderProc);
  mng_setcb_getcanvasline(handle, MngCanvasLineProc);
  mng_setcb_getalphaline(handle, MngAlphaLineProc);
  mng_setcb_refresh(handle, MngRefreshProc);
  mng_setcb_gettickcount(handle, MngTickCountProc);
  mng_setcb_settimer(handle, MngSetTimerProc);
}

// The file's own background colour (a BACK chunk), if it has one.
mng_bool FindBackground(mng_handle handle, mng_handle chunk, mng_chunkid id, mng_uint32) {
  if (id != MNG_UINT_BACK) return MNG_TRUE;
  mng_uint16 red = 0, green = 0, blue = 0, image = 0;
  mng_uint8 mandatory = 0, tile = 0;
  if (mng_getchunk_back(handle, chunk, &red, &green, &blue, &mandatory, &image, &tile) == MNG_NOERROR) {
    MngStreamInfo* s = InfoOf(handle);
    s->backgroundIndex = 0;
    s->background = RGBQUAD{static_cast<uint8_t>(blue >> 8), static_cast<uint8_t>(green >> 8),
                            static_cast<uint8_t>(red >> 8), 0};
  }
  return MNG_FALSE;  // the first one is enough
}

// libmng learns the totals when it reaches the end of the stream; once the
// display has drawn that many frames (or layers, for a stream without
// frame chunks) a looping animation would only start over.
bool FirstRunEnded(mng_handle handle) {
  const mng_uint32 frames = mng_get_totalframes(handle);
  if (frames > 0 && mng_get_currentframe(handle) >= frames) return true;
  const mng_uint32 layers = mng_get_totallayers(handle);
  return layers > 0 && mng_get_currentlayer(handle) >= layers;
}

std::string ErrorText(mng_handle handle) {
  mng_int8 severity = 0;
  mng_chunkid chunk = 0;
  mng_uint32 sequence = 0;
  mng_int32 extra1 = 0, extra2 = 0;
  mng_pchar text = nullptr;
  mng_getlasterror(handle, &severity, &chunk, &sequence, &extra1, &extra2, &text);
  return text && *text ? text : "Error in MNG file";
}

// One 24-bit picture as IHDR, IDAT and IEND. False when anything fails.
bool WriteMngImage(mng_handle handle, const MngStreamInfo& s) {
  const size_t rowBytes = size_t{s.width} * 3 + 1;
  std::vector<uint8_t> rows;
  try {
    rows.resize(rowBytes * s.height);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (mng_putchunk_ihdr(handle, s.width, s.height, MNG_BITDEPTH_8, MNG_COLORTYPE_RGB, MNG_COMPRESSION_DEFLATE,
                        MNG_FILTER_ADAPTIVE, MNG_INTERLACE_NONE) != MNG_NOERROR)
    return false;
  // Output rows run from the top: container row height - 1 - i.
  for (uint32_t i = 0; i < s.height; ++i) {
    uint8_t* out = rows.data() + rowBytes * i;
    const uint8_t* in = s.canvas.data() + size_t{s.height - 1 - i} * s.stride;
    *out++ = 0;  // filter: none
    for (uint32_t x = 0; x < s.width; ++x) {
      *out++ = in[3 * size_t{x} + 2];
      *out++ = in[3 * size_t{x} + 1];
      *out++ = in[3 * size_t{x}];
    }
  }
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  std::vector<uint8_t> packed;
  bool ok = false;
  try {
    packed.resize(deflateBound(&z, static_cast<uLong>(rows.size())));
    z.next_in = rows.data();
    z.avail_in = static_cast<uInt>(rows.size());
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    ok = deflate(&z, Z_FINISH) == Z_STREAM_END;
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  const size_t packedBytes = z.total_out;
  deflateEnd(&z);
  if (!ok) return false;
  return mng_putchunk_idat(handle, static_cast<mng_uint32>(packedBytes), packed.data()) == MNG_NOERROR &&
         mng_putchunk_iend(handle) == MNG_NOERROR;
}

}  // namespace

PxImageMNG::PxImageMNG() { InitDefaults(kFormatMng); }

PxImageMNG::~PxImageMNG() {
  ArenaScope scope(&arena_);
  if (handle_) {
    mng_handle h = static_cast<mng_handle>(handle_);
    mng_cleanup(&h);
  }
}

bool PxImageMNG::Decode(PxFile* file) {
  if (!file) return false;
  auto fail = [&](const std::string& text) {
    SetLastError(text.c_str());
    return false;
  };
  ArenaScope scope(&arena_);
  // libmng reads a prepared copy of the file: loops left out, the canvas
  // cut to what the images reach.
  {
    const int64_t left = int64_t{file->TotalSize()} - file->Position();
    std::vector<uint8_t> whole;
    try {
      // Another format's file (every format may be tried in turn) costs
      // its signature only: libmng refuses that at once.
      whole.resize(8);
      whole.resize(file->ReadBlock(whole.data(), 1, whole.size()));
      if (mngchunks::HasSignature(whole.data(), whole.size()) && left > 8) {
        whole.resize(static_cast<size_t>(left));
        whole.resize(8 + file->ReadBlock(whole.data() + 8, 1, whole.size() - 8));
      }
      stream_.input = mngchunks::PrepareStream(whole.data(), whole.size()).bytes;
    } catch (const std::bad_alloc&) {
      return fail("PXIMAGE_MAX_MEMORY exceeded");
    }
    stream_.inputAt = 0;
    stream_.fileBytes = whole.size();
  }
  mng_handle h = mng_initialize(&stream_, MngAllocProc, MngFreeProc, MNG_NULL);
  if (!h) return fail("could not initialize libmng");
  handle_ = h;
  stream_.file = file;

  mng_set_bgcolor(h, 65535, 65535, 65535);
  mng_set_usebkgd(h, MNG_TRUE);
  // Read from a local file: no intermediate refreshes while a big image
  // arrives, and the chunks kept so the background can be looked up.
  mng_set_doprogressive(h, MNG_FALSE);
  mng_set_storechunks(h, MNG_TRUE);
  // Play each animation once. With the playback cache libmng follows TERM
  // and LOOP back inside a single call, and a loop whose body draws
  // nothing never returns; without it TERM is skipped (and a LOOP chunk
  // would be an error: the prepared stream has none, each body plays
  // once). The reader wants one run anyway: it counts the frames.
  mng_set_cacheplayback(h, MNG_FALSE);
  // Up to what the container holds until the header says the real size.
  mng_set_maxcanvassize(h, 65535, 65535);
  InstallMngCallbacks(h);

  // The frame count is this reader's to report only once the file is an
  // MNG: a failed try on another format leaves the count it was given.
  mng_retcode rc = mng_readdisplay(h);
  if (stream_.tooLarge) return fail("PXIMAGE_MAX_MEMORY exceeded");
  if (rc != MNG_NOERROR && rc != MNG_NEEDTIMERWAIT) return fail(ErrorText(h));
  if (stream_.canvas.empty()) return fail("Error in MNG file");

  if (info.escape == -1) {
    header.biWidth = static_cast<int32_t>(mng_get_imagewidth(h));
    header.biHeight = static_cast<int32_t>(mng_get_imageheight(h));
    info.formatId = kFormatMng;
    return true;
  }

  // Frame 0 is on the canvas now; each resume that asks for the timer
  // again has drawn one more. A looping animation shows its first frame
  // again once a full run has passed: libmng then knows its total.
  const int32_t wanted = info.frame;
  std::vector<uint8_t> chosen, chosenAlpha;
  auto keep = [&] {
    chosen = stream_.canvas;
    chosenAlpha = stream_.alpha;
  };
  int32_t frames = 1;
  if (wanted == 0) keep();
  uint64_t drawn = stream_.canvas.size();
  const uint64_t maxDrawn = std::max(kMinDrawnBytes, stream_.fileBytes * kDrawnBytesPerFileByte);
  while (rc == MNG_NEEDTIMERWAIT && frames < kMngMaxFrames && drawn < maxDrawn) {
    if (FirstRunEnded(h)) break;
    rc = mng_display_resume(h);
    if (rc != MNG_NEEDTIMERWAIT) break;
    if (frames == wanted) keep();
    ++frames;
    drawn += stream_.canvas.size();
  }
  if (rc != MNG_NOERROR && rc != MNG_NEEDTIMERWAIT) return fail(ErrorText(h));
  info.frameCount = frames;
  if (wanted < 0 || wanted >= frames || chosen.empty()) return fail("Error: frame not present in MNG file");

  mng_iterate_chunks(h, 0, FindBackground);
  if (stream_.backgroundIndex >= 0) {
    info.backgroundIndex = stream_.backgroundIndex;
    info.backgroundColor = stream_.background;
  }
  if (!Create(stream_.width, stream_.height, 24, kFormatMng)) return fail("PxImageMNG::Decode cannot create image");
  std::memcpy(PixelRows(), chosen.data(), ImageBytes() < chosen.size() ? ImageBytes() : chosen.size());
  SwapRedBlueAll();
  if (!alpha && !CreateAlphaPlane()) return fail("PxImageMNG::Decode cannot create image");
  std::memcpy(alpha, chosenAlpha.data(), chosenAlpha.size());
  return true;
}

bool PxImageMNG::Encode(PxFile* file) {
  if (!CanEncodeTo(file)) return false;
  ArenaScope scope(&arena_);
  if (PaletteSize() > 0) {
    SetLastError("MNG encoder can save only RGB images");
    return false;
  }
  stream_.file = file;
  stream_.bpp = 24;
  stream_.stride = RowStride();
  stream_.height = Height();
  stream_.width = Width();
  try {
    stream_.canvas.assign(PixelRows(), PixelRows() + ImageBytes());
  } catch (const std::bad_alloc&) {
    SetLastError("could not allocate memory for MNG");
    return false;
  }
  mng_handle h = mng_initialize(&stream_, MngAllocProc, MngFreeProc, MNG_NULL);
  if (!h) {
    SetLastError("could not initialize libmng");
    return false;
  }
  handle_ = h;
  mng_setcb_openstream(h, MngOpenStreamProc);
  mng_setcb_closestream(h, MngCloseStreamProc);
  mng_setcb_writedata(h, MngWriteProc);
  mng_setcb_errorproc(h, MngErrorProc);
  // Nothing counts as written unless every chunk went out and the stream
  // took every byte.
  if (mng_create(h) != MNG_NOERROR || !WriteMngImage(h, stream_) || mng_write(h) != MNG_NOERROR ||
      !file->FlushFile() || file->ErrorState() != 0) {
    SetLastError("Error writing MNG file");
    return false;
  }
  return true;
}
