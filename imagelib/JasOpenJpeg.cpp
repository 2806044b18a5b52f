// JP2 files and J2K code streams through OpenJPEG. The library reads and
// writes through stream callbacks on the PxFile, reports into a message
// record of this call, and learns the picture's size from opj_read_header
// before anything is decoded, so the size limit is checked first.
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imagelib/JasAdapter.h"

namespace jas {

namespace {

// Where a stream's bytes are: the file and the offset the stream starts at
// (OpenJPEG's seeks count from there).
struct StreamTarget {
  PxFile* file;
  int32_t start;
};

OPJ_SIZE_T ReadProc(void* buffer, OPJ_SIZE_T bytes, void* user) {
  auto* t = static_cast<StreamTarget*>(user);
  if (bytes > 0x40000000u) bytes = 0x40000000u;
  const size_t got = t->file->ReadBlock(buffer, 1, bytes);
  return got == 0 ? static_cast<OPJ_SIZE_T>(-1) : got;
}

OPJ_SIZE_T WriteProc(void* buffer, OPJ_SIZE_T bytes, void* user) {
  auto* t = static_cast<StreamTarget*>(user);
  return t->file->WriteBlock(buffer, 1, bytes);
}

OPJ_OFF_T SkipProc(OPJ_OFF_T bytes, void* user) {
  auto* t = static_cast<StreamTarget*>(user);
  if (bytes < 0 || bytes > INT32_MAX) return -1;
  const int64_t target = int64_t{t->file->Position()} + bytes;
  if (target > INT32_MAX || !t->file->SeekTo(static_cast<int32_t>(target), 0)) return -1;
  return bytes;
}

OPJ_BOOL SeekProc(OPJ_OFF_T offset, void* user) {
  auto* t = static_cast<StreamTarget*>(user);
  const int64_t target = int64_t{t->start} + offset;
  if (offset < 0 || target > INT32_MAX) return OPJ_FALSE;
  return t->file->SeekTo(static_cast<int32_t>(target), 0) ? OPJ_TRUE : OPJ_FALSE;
}

// The first error the library reports in this call.
void ErrorProc(const char* message, void* user) {
  auto* text = static_cast<std::string*>(user);
  if (text->empty() && message) {
    *text = message;
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
  }
}
void QuietProc(const char*, void*) {}

struct CodecDeleter {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};
using Codec = std::unique_ptr<opj_codec_t, CodecDeleter>;
using Stream = std::unique_ptr<opj_stream_t, StreamDeleter>;
using OpjImage = std::unique_ptr<opj_image_t, ImageDeleter>;

Stream MakeStream(StreamTarget* target, bool input) {
  Stream s(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, input ? OPJ_TRUE : OPJ_FALSE));
  if (!s) return s;
  opj_stream_set_user_data(s.get(), target, nullptr);
  if (input) {
    const int32_t total = target->file->TotalSize();
    const int64_t left = total > target->start ? int64_t{total} - target->start : 0;
    opj_stream_set_user_data_length(s.get(), static_cast<OPJ_UINT64>(left));
    opj_stream_set_read_function(s.get(), ReadProc);
  } else {
    opj_stream_set_write_function(s.get(), WriteProc);
  }
  opj_stream_set_skip_function(s.get(), SkipProc);
  opj_stream_set_seek_function(s.get(), SeekProc);
  return s;
}

void Quiet(opj_codec_t* codec, std::string* error) {
  opj_set_error_handler(codec, ErrorProc, error);
  opj_set_warning_handler(codec, QuietProc, nullptr);
  opj_set_info_handler(codec, QuietProc, nullptr);
}

ColorSpace SpaceOf(const opj_image_t* img) {
  switch (img->color_space) {
    case OPJ_CLRSPC_SRGB: return ColorSpace::kSrgb;
    case OPJ_CLRSPC_GRAY: return ColorSpace::kGrey;
    case OPJ_CLRSPC_SYCC: return ColorSpace::kSycc;
    case OPJ_CLRSPC_EYCC: return ColorSpace::kEycc;
    case OPJ_CLRSPC_CMYK: return ColorSpace::kCmyk;
    default: break;
  }
  // A bare code stream names no colour space: three components whose
  // second and third are subsampled are luma and chroma.
  if (img->numcomps >= 3 && img->comps[0].dx == 1 && img->comps[0].dy == 1 &&
      (img->comps[1].dx > 1 || img->comps[1].dy > 1) && img->comps[1].dx == img->comps[2].dx &&
      img->comps[1].dy == img->comps[2].dy)
    return ColorSpace::kSycc;
  return ColorSpace::kUnknown;
}

uint32_t CeilDiv(uint32_t a, uint32_t b) { return static_cast<uint32_t>((uint64_t{a} + b - 1) / b); }

// Component sizes from the grid, as the decoder will lay them out.
bool DescribeComponents(const opj_image_t* img, Image* image, std::string* error) {
  if (img->x1 <= img->x0 || img->y1 <= img->y0) {
    *error = "error: cannot load image data";
    return false;
  }
  image->width = img->x1 - img->x0;
  image->height = img->y1 - img->y0;
  image->space = SpaceOf(img);
  image->comps.resize(img->numcomps);
  for (OPJ_UINT32 i = 0; i < img->numcomps; ++i) {
    const opj_image_comp_t& s = img->comps[i];
    Component& c = image->comps[i];
    if (s.dx == 0 || s.dy == 0 || s.prec == 0 || s.prec > 31) {
      *error = "error: cannot load image data";
      return false;
    }
    c.dx = s.dx;
    c.dy = s.dy;
    c.width = CeilDiv(img->x1, s.dx) - CeilDiv(img->x0, s.dx);
    c.height = CeilDiv(img->y1, s.dy) - CeilDiv(img->y0, s.dy);
    c.precision = static_cast<int>(s.prec);
    c.isSigned = s.sgnd != 0;
    c.maxValue = static_cast<uint32_t>((uint64_t{1} << s.prec) - 1);
    c.alpha = s.alpha != 0;
  }
  return true;
}

// What the code stream's size marker promises, checked against the bytes
// that follow before OpenJPEG reads it: the library allocates its tile
// records for every tile and its planes for every sample from that marker
// alone, so a hundred-byte stream could cost gigabytes and seconds.
//
// Every tile needs at least a tile-part header and its data marker.
constexpr uint64_t kMinTileBytes = 14;
// A picture up to this many samples may come from any stream; beyond it each
// byte of the stream may stand for at most kMaxSamplesPerByte samples. The
// most a lossy encoder squeezes real pictures is about a thousand to one;
// only blank pictures go further.
constexpr uint64_t kFreeSamples = uint64_t{1} << 24;
constexpr uint64_t kMaxSamplesPerByte = uint64_t{1} << 16;

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Where the code stream starts: at once for a bare stream, inside the
// "jp2c" box of a JP2 file. -1 when no such box is found.
int64_t CodeStreamStart(PxFile* file, int32_t start, int64_t total, bool jp2) {
  if (!jp2) return start;
  int64_t at = start;
  for (int boxes = 0; boxes < 4096 && at + 8 <= total; ++boxes) {
    uint8_t head[16];
    if (!file->SeekTo(static_cast<int32_t>(at), 0) || file->ReadBlock(head, 1, 8) != 8) return -1;
    uint64_t length = Be32(head);
    int64_t body = at + 8;
    if (length == 1) {
      if (file->ReadBlock(head + 8, 1, 8) != 8) return -1;
      length = uint64_t{Be32(head + 8)} << 32 | Be32(head + 12);
      body = at + 16;
    }
    if (std::memcmp(head + 4, "jp2c", 4) == 0) return body;
    if (length == 0) return -1;  // the last box, and not the code stream
    if (length < static_cast<uint64_t>(body - at) || length > static_cast<uint64_t>(total - at)) return -1;
    at += static_cast<int64_t>(length);
  }
  return -1;
}

// Whether the JP2 header box holds a channel-definition box. Without one,
// the writers that leave it out (most of them) mean the last component of
// four, or of two with grey, as opacity. The file is left where it was.
bool HasChannelDefinitions(PxFile* file) {
  const int32_t start = file->Position();
  const int64_t total = file->TotalSize();
  bool found = false;
  // The boxes of [from, to): returns the body and its end of the first box
  // of the given type, or false.
  auto findBox = [file](int64_t from, int64_t to, const char* type, int64_t* body, int64_t* end) {
    int64_t at = from;
    for (int boxes = 0; boxes < 4096 && at + 8 <= to; ++boxes) {
      uint8_t head[16];
      if (at > INT32_MAX || !file->SeekTo(static_cast<int32_t>(at), 0) || file->ReadBlock(head, 1, 8) != 8)
        return false;
      uint64_t length = Be32(head);
      int64_t inside = at + 8;
      if (length == 1) {
        if (file->ReadBlock(head + 8, 1, 8) != 8) return false;
        length = uint64_t{Be32(head + 8)} << 32 | Be32(head + 12);
        inside = at + 16;
      }
      if (length == 0) length = static_cast<uint64_t>(to - at);  // the last box
      if (length < static_cast<uint64_t>(inside - at) || length > static_cast<uint64_t>(to - at)) return false;
      if (std::memcmp(head + 4, type, 4) == 0) {
        *body = inside;
        *end = at + static_cast<int64_t>(length);
        return true;
      }
      at += static_cast<int64_t>(length);
    }
    return false;
  };
  int64_t header = 0, headerEnd = 0, body = 0, end = 0;
  if (start >= 0 && total > start && findBox(start, total, "jp2h", &header, &headerEnd))
    found = findBox(header, headerEnd, "cdef", &body, &end);
  file->SeekTo(start, 0);
  return found;
}

// False with the message when the stream's size marker claims more tiles or
// (unless headerOnly) more samples than its bytes can hold. Streams whose
// marker cannot be read are left for OpenJPEG to refuse.
bool FitsItsData(PxFile* file, bool jp2, bool headerOnly, std::string* error) {
  const int32_t start = file->Position();
  const int64_t total = file->TotalSize();
  const int64_t stream = CodeStreamStart(file, start, total, jp2);
  bool fits = true;
  uint8_t siz[42];
  if (stream >= 0 && stream + static_cast<int64_t>(sizeof siz) <= total &&
      file->SeekTo(static_cast<int32_t>(stream), 0) && file->ReadBlock(siz, 1, sizeof siz) == sizeof siz &&
      Be16(siz) == 0xFF4F && Be16(siz + 2) == 0xFF51) {
    const uint64_t bytes = static_cast<uint64_t>(total - stream);
    const uint32_t w = Be32(siz + 8), h = Be32(siz + 12), x0 = Be32(siz + 16), y0 = Be32(siz + 20);
    const uint32_t tw = Be32(siz + 24), th = Be32(siz + 28), tx0 = Be32(siz + 32), ty0 = Be32(siz + 36);
    const uint16_t comps = Be16(siz + 40);
    if (w > x0 && h > y0 && tw > 0 && th > 0 && w > tx0 && h > ty0) {
      const uint64_t tiles = (uint64_t{w} - tx0 + tw - 1) / tw * ((uint64_t{h} - ty0 + th - 1) / th);
      if (tiles > bytes / kMinTileBytes) fits = false;
      std::vector<uint8_t> sub(size_t{comps} * 3);
      if (fits && !headerOnly && comps > 0 && file->ReadBlock(sub.data(), 1, sub.size()) == sub.size()) {
        uint64_t samples = 0;
        for (uint16_t i = 0; i < comps; ++i) {
          const uint32_t dx = sub[3 * size_t{i} + 1], dy = sub[3 * size_t{i} + 2];
          if (dx == 0 || dy == 0) continue;  // OpenJPEG refuses it
          samples += (uint64_t{CeilDiv(w, dx)} - CeilDiv(x0, dx)) * (uint64_t{CeilDiv(h, dy)} - CeilDiv(y0, dy));
        }
        if (samples > kFreeSamples && samples / kMaxSamplesPerByte > bytes) fits = false;
      }
    }
  }
  file->SeekTo(start, 0);
  if (!fits) *error = "error: cannot load image data";
  return fits;
}

}  // namespace

bool DecodeOpenJpeg(PxFile* file, bool jp2, bool headerOnly, Image* image, std::string* error) {
  if (!FitsItsData(file, jp2, headerOnly, error)) return false;
  image->channelsDefined = jp2 && HasChannelDefinitions(file);
  StreamTarget target{file, file->Position()};
  Stream stream = MakeStream(&target, true);
  Codec codec(opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!stream || !codec) {
    *error = "error: cannot open standard input";
    return false;
  }
  std::string message;
  Quiet(codec.get(), &message);
  opj_dparameters_t params;
  opj_set_default_decoder_parameters(&params);
  opj_image_t* raw = nullptr;
  auto fail = [&](const char* fallback) {
    *error = message.empty() ? fallback : message;
    return false;
  };
  if (!opj_setup_decoder(codec.get(), &params)) return fail("error: cannot load image data");
  const bool header = opj_read_header(stream.get(), codec.get(), &raw);
  OpjImage img(raw);
  if (!header || !img) return fail("error: cannot load image data");
  if (img->numcomps == 0) return fail("error: cannot load image data");
  if (img->numcomps > 64) {
    *error = "error: too many components";
    return false;
  }
  if (!DescribeComponents(img.get(), image, error)) return false;
  if (headerOnly) return true;

  // The limit before the library allocates a single plane.
  uint64_t total = 0;
  for (const Component& c : image->comps) total += uint64_t{c.width} * c.height;
  if (total > kMaxSamples) {
    *error = "PXIMAGE_MAX_MEMORY exceeded";
    return false;
  }
  if (!opj_decode(codec.get(), stream.get(), img.get()) || !opj_end_decompress(codec.get(), stream.get()))
    return fail("error: cannot load image data");

  // The library may change the component list (palette, channel
  // definitions): describe what it handed back.
  if (img->numcomps == 0) return fail("error: cannot load image data");
  if (img->numcomps > 64) {
    *error = "error: too many components";
    return false;
  }
  if (!DescribeComponents(img.get(), image, error)) return false;
  if (!AllocateSamples(image, error)) return false;
  for (OPJ_UINT32 i = 0; i < img->numcomps; ++i) {
    const opj_image_comp_t& s = img->comps[i];
    Component& c = image->comps[i];
    if (!s.data || s.w < c.width || s.h < c.height) return fail("error: cannot load image data");
    for (uint32_t y = 0; y < c.height; ++y)
      std::memcpy(&c.samples[size_t{y} * c.width], s.data + size_t{y} * s.w, size_t{c.width} * sizeof(int32_t));
  }
  return true;
}

bool EncodeOpenJpeg(PxFile* file, bool jp2, const Image& image, double rate, std::string* error) {
  const size_t count = image.comps.size();
  if (count == 0 || image.width == 0 || image.height == 0) {
    *error = "error : jas_image_create";
    return false;
  }
  std::vector<opj_image_cmptparm_t> parms(count);
  for (size_t i = 0; i < count; ++i) {
    opj_image_cmptparm_t& p = parms[i];
    std::memset(&p, 0, sizeof p);
    p.dx = p.dy = 1;
    p.w = image.comps[i].width;
    p.h = image.comps[i].height;
    p.prec = static_cast<OPJ_UINT32>(image.comps[i].precision);
    p.sgnd = image.comps[i].isSigned ? 1 : 0;
  }
  const OPJ_COLOR_SPACE space = image.space == ColorSpace::kGrey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB;
  OpjImage img(opj_image_create(static_cast<OPJ_UINT32>(count), parms.data(), space));
  if (!img) {
    *error = "error : jas_image_create";
    return false;
  }
  img->x0 = img->y0 = 0;
  img->x1 = image.width;
  img->y1 = image.height;
  for (size_t i = 0; i < count; ++i) {
    const Component& c = image.comps[i];
    if (c.samples.size() != size_t{c.width} * c.height) {
      *error = "error : jas_image_writecmpt";
      return false;
    }
    std::memcpy(img->comps[i].data, c.samples.data(), c.samples.size() * sizeof(int32_t));
    // The JP2 writer describes a marked component in its channel
    // definitions, so readers take it as opacity.
    img->comps[i].alpha = c.alpha ? 1 : 0;
  }

  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  params.tcp_numlayers = 1;
  params.cp_disto_alloc = 1;
  if (rate >= 1.0 || !(rate > 0.0)) {
    // Lossless, reversible wavelet. A rate of 0 (quality 0) asks for no
    // bytes at all: it gets the smallest lossy stream instead of a
    // division by zero.
    params.tcp_rates[0] = 0;
    params.irreversible = 0;
    if (!(rate > 0.0)) {
      params.tcp_rates[0] = 200.0f;
      params.irreversible = 1;
    }
  } else {
    params.tcp_rates[0] = static_cast<float>(std::min(1.0 / rate, 200.0));
    params.irreversible = 1;
  }
  // Every resolution level halves the picture; the smallest must keep a
  // pixel on each side (the library's default of six needs 32).
  int levels = 1;
  for (uint32_t side = std::min(image.width, image.height); side >= 2 && levels < 6; side /= 2) ++levels;
  params.numresolution = levels;
  params.tcp_mct = count >= 3 ? 1 : 0;

  Codec codec(opj_create_compress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  StreamTarget target{file, file->Position()};
  Stream stream = MakeStream(&target, false);
  if (!codec || !stream) {
    *error = "error: cannot open standard output";
    return false;
  }
  std::string message;
  Quiet(codec.get(), &message);
  if (!opj_setup_encoder(codec.get(), &params, img.get()) ||
      !opj_start_compress(codec.get(), img.get(), stream.get()) ||
      !opj_encode(codec.get(), stream.get()) || !opj_end_compress(codec.get(), stream.get())) {
    *error = "error: cannot encode image";
    return false;
  }
  return true;
}

}  // namespace jas
