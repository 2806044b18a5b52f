// Hostile containers, one row per fault the parsers must not have: cycles,
// self-pointing entries, wrapping lengths, huge counts, unterminated texts,
// values that would divide by zero or overflow. Every row must end cleanly
// (the sanitizer build runs this too), with the defined outcome, within a
// bound on its processor time.
#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

#include "raw_test_encoder.h"
#include "raw_tiff_writer.h"
#include "rawdecode/raw_parsers.h"

using namespace rawtest;

namespace {

struct Row {
  const char* fault;
  std::function<void()> run;
};

// Little-endian TIFF bytes: header, then `body` from offset 8.
std::vector<uint8_t> LeTiff(std::function<void(ByteSink&)> body) {
  ByteSink s(true);
  s.Text("II");
  s.U16(42);
  s.U32(8);
  body(s);
  s.PadTo(s.bytes.size() + 16);
  return s.bytes;
}
void Entry(ByteSink& s, uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
  s.U16(tag), s.U16(type), s.U32(count), s.U32(value);
}

std::vector<uint8_t> Ciff(std::vector<uint8_t> heap) {
  std::vector<uint8_t> b(26, 0);
  b.insert(b.end(), heap.begin(), heap.end());
  return b;
}

// A heap whose only record is a sub-heap one level deeper, `depth` times.
std::vector<uint8_t> NestedHeap(int depth) {
  std::vector<uint8_t> heap;
  if (depth > 0) heap = NestedHeap(depth - 1);
  ByteSink t(true);
  t.U16(depth > 0 ? 1 : 0);
  if (depth > 0) t.U16(0x300A), t.U32(uint32_t(heap.size())), t.U32(0);
  uint32_t table = uint32_t(heap.size());
  heap.insert(heap.end(), t.bytes.begin(), t.bytes.end());
  ByteSink o(true);
  o.U32(table);
  heap.insert(heap.end(), o.bytes.begin(), o.bytes.end());
  return heap;
}

void RunTiff(std::vector<uint8_t> bytes, const std::function<void(raw_decode_context*)>& check = {}) {
  MemoryContext m(std::move(bytes));
  m->raw_image_count = 1;
  read_tiff_container(m.get(), 0);
  EXPECT_LE(m->ifd_count, 10);
  if (check) check(m.get());
}

}  // namespace

TEST(RawParseHostile, EveryRowEndsCleanly) {
  const Row rows[] = {
      {"TIFF chain pointing at its own directory",
       [] {
         RunTiff(LeTiff([](ByteSink& s) {
                   s.U16(1);
                   Entry(s, 256, 4, 1, 64);
                   s.U32(8);
                 }),
                 [](raw_decode_context* c) { EXPECT_EQ(c->ifd_count, 1); });
       }},
      {"4096 sub-directories, all the directory itself",
       [] {
         RunTiff(LeTiff([](ByteSink& s) {
           s.U16(1);
           Entry(s, 330, 4, 4096, 26);
           s.U32(0);
           for (int i = 0; i < 4096; ++i) s.U32(8);
         }));
       }},
      {"512 EXIF pointers to one EXIF directory claiming 65535 entries",
       [] {
         RunTiff(LeTiff([](ByteSink& s) {
           s.U16(512);
           const uint32_t exif = 8 + 2 + 512 * 12 + 4;
           for (int i = 0; i < 512; ++i) Entry(s, 34665, 4, 1, exif);
           s.U32(0);
           s.U16(65535);
           for (int i = 0; i < 100; ++i) Entry(s, 33434, 5, 1, 0);
         }));
       }},
      {"maker note whose Nikon sub-directory leads back to the EXIF directory",
       [] {
         RunTiff(LeTiff([](ByteSink& s) {
                   // IFD0 at 8: make, EXIF at 8 + 2 + 24 + 4 = 38; "NIKON" at 80
                   s.U16(2);
                   Entry(s, 271, 2, 6, 80);
                   Entry(s, 34665, 4, 1, 38);
                   s.U32(0);
                   s.U16(1);  // EXIF at 38: the maker note at 60
                   Entry(s, 37500, 7, 20, 60);
                   s.U32(0);
                   s.PadTo(60);
                   s.U16(1);  // bare note: 0x11 points at IFD0
                   Entry(s, 0x11, 4, 1, 8);
                   s.U32(0);
                   s.PadTo(80);
                   s.Text(std::string("NIKON\0", 6));
                 }),
                 [](raw_decode_context* c) { EXPECT_STREQ(c->camera_make, "NIKON"); });
       }},
      {"tag 50459 pointing at its own directory, and DNG private data pointing at it",
       [] {
         RunTiff(LeTiff([](ByteSink& s) {
           s.U16(2);
           Entry(s, 50459, 7, 8, 40);
           Entry(s, 50740, 4, 1, 8);
           s.U32(0);
           s.PadTo(40);
           s.Text("II");
           s.U16(42);
           s.U32(uint32_t(-32));  // 40 - 32 = 8: the directory itself
         }));
       }},
      {"a JPEG of 5000 APP1 segments, each a TIFF of 512 entries: one budget for the file",
       [] {
         std::vector<uint8_t> tiff = LeTiff([](ByteSink& s) {
           s.U16(512);
           for (int i = 0; i < 512; ++i) Entry(s, 33434, 5, 1, 8);
           s.U32(8);
         });
         std::vector<uint8_t> b = {0xFF, 0xD8};
         for (int i = 0; i < 5000; ++i) {
           size_t len = 2 + 6 + tiff.size();
           b.insert(b.end(), {0xFF, 0xE1, uint8_t(len >> 8), uint8_t(len), 'E', 'x', 'i', 'f', 0, 0});
           b.insert(b.end(), tiff.begin(), tiff.end());
         }
         MemoryContext m(b);
         EXPECT_EQ(read_jpeg_markers(m.get()), 1);
         EXPECT_EQ(m->parse.records_left, 0u);
       }},
      {"JPEG segment length below 2 (would step back)",
       [] {
         MemoryContext m({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x00, 0xFF, 0xE1, 0, 0});
         EXPECT_EQ(read_jpeg_markers(m.get()), 1);
       }},
      {"CIFF: a sub-heap that is the heap itself; heaps nested 300 deep",
       [] {
         ByteSink h(true);
         h.U16(1), h.U16(0x300A), h.U32(16), h.U32(0);  // the whole heap again
         h.U32(0);                                     // table at 0
         MemoryContext m(Ciff(h.bytes));
         read_ciff_heap(m.get(), 26, 16);
         MemoryContext n(Ciff(NestedHeap(300)));
         n->byte_order = 0x4949;
         read_ciff_heap(n.get(), 26, n->stream_size - 26);
         EXPECT_EQ(n->parse.depth, 0);
       }},
      {"CIFF table offset and count beyond the heap",
       [] {
         ByteSink h(true);
         h.U16(0xFFFF);
         h.U32(0x7FFFFFFF);
         MemoryContext m(Ciff(h.bytes));
         read_ciff_heap(m.get(), 26, 6);
         read_ciff_heap(m.get(), 26, int64_t(1) << 40);
         read_ciff_heap(m.get(), -5, 100);
       }},
      {"MRW block of length 0xFFFFFFF8 (a 32-bit sum would not move)",
       [] {
         ByteSink s(false);
         s.Text(std::string("\0MRM", 4));
         s.U32(0xFFFFFFF0);
         s.Text(std::string("\0XYZ", 4));
         s.U32(0xFFFFFFF8);
         s.PadTo(64);
         MemoryContext m(s.bytes);
         m->byte_order = 0x4949;
         read_minolta_blocks(m.get(), 0);
         EXPECT_EQ(m->byte_order, 0x4949);
       }},
      {"RIFF: LIST sizes beyond the parent, empty chunks, 200 nested LISTs",
       [] {
         ByteSink s(true);
         s.Text("RIFF"), s.U32(0xFFFFFFFF), s.Text("AVI ");
         for (int i = 0; i < 200; ++i) s.Text("LIST"), s.U32(0xFFFFFFFF), s.Text("ncdt");
         s.Text("JUNK"), s.U32(0);
         s.Text("nctg"), s.U32(0xFFFFFFFF);
         for (int i = 0; i < 50; ++i) s.U16(19), s.U16(0);
         MemoryContext m(s.bytes);
         read_riff_chunks(m.get());
         EXPECT_EQ(m->parse.depth, 0);
       }},
      {"Leaf packet of length 0xFFFFFFF0, then packets of length 0",
       [] {
         for (uint32_t skip : {0xFFFFFFF0u, 0u}) {
           ByteSink s(false);
           for (int i = 0; i < 300; ++i) {
             s.Text("PKTS"), s.U32(0);
             std::string name = "CaptProf_number_of_planes";
             name.resize(40, '\0');
             s.Text(name);
             s.U32(skip);
           }
           MemoryContext m(s.bytes);
           m->byte_order = 0x4D4D;
           read_leaf_packets(m.get(), 0);
           EXPECT_EQ(m->parse.depth, 0);
         }
       }},
      {"Phase One, Sinar, Foveon and Fuji entry counts of 0xFFFFFFFF",
       [] {
         ByteSink p(true);
         p.Text("IIII"), p.U32(0x52617700), p.U32(16), p.U32(0), p.U32(0xFFFFFFFF), p.U32(0);
         p.PadTo(200);
         MemoryContext a(p.bytes);
         read_phase_one_header(a.get(), 0);
         ByteSink s(true);
         s.Text("PWAD"), s.U32(0xFFFFFFFF), s.U32(12);
         s.PadTo(100);
         MemoryContext b(s.bytes);
         read_sinar_ia(b.get());
         ByteSink f(true);
         f.Text("FOVb");
         f.PadTo(40);
         f.Text("SECd"), f.U32(0), f.U32(0xFFFFFFFF);
         for (int i = 0; i < 20; ++i) f.U32(0), f.U32(0xFFFFFFFF), f.U32(0x504F5250);
         f.U32(40);
         MemoryContext c(f.bytes);
         read_foveon_properties(c.get());
         // a PROP section claiming 2^32 - 1 properties
         ByteSink g(true);
         g.Text("FOVb");
         g.PadTo(40);
         g.Text("SECp"), g.U32(0), g.U32(0xFFFFFFFF), g.U32(0), g.U32(0), g.U32(0);
         for (int i = 0; i < 600; ++i) g.U32(0xFFFFFFFF);
         size_t dir = g.bytes.size();
         g.Text("SECd"), g.U32(0), g.U32(1), g.U32(40), g.U32(100), g.U32(0x504F5250);
         g.U32(uint32_t(dir));
         MemoryContext d(g.bytes);
         read_foveon_properties(d.get());
         ByteSink r(false);
         r.U32(0xFFFFFFFF);
         MemoryContext e(r.bytes);
         read_fuji_directory(e.get(), 0);
       }},
      {"Konica scan up to a raw data offset far beyond the data",
       [] {
         MemoryContext m({'K', 'C', 0, 0, 0, 0, 0, 0, 0, 0, 1, 2});
         m->raw_data_offset = 0xFFFFFFFF;
         read_maker_note(m.get(), 0, 0);
         EXPECT_EQ(m->camera_multipliers[0], 0);
       }},
      {"Nikon capture records with negative and oversized lengths; a serial of 2^32 - 1 bytes",
       [] {
         for (uint32_t n : {0u, 3u, 0xFFFFFFFFu, 30u}) {
           ByteSink r(true);
           r.PadTo(22);
           r.U32(0x76A43207), r.PadTo(r.bytes.size() + 14), r.U32(n);
           r.PadTo(80);
           ByteSink s(false);
           s.U16(2);
           s.U16(0xE01), s.U16(7), s.U32(uint32_t(r.bytes.size())), s.U32(2 + 24 + 4);
           s.U16(0x1D), s.U16(2), s.U32(0xFFFFFFFF), s.U32(2 + 24 + 4);
           s.U32(0);
           s.Raw(r.bytes);
           s.PadTo(4096);
           std::fill(s.bytes.begin() + 200, s.bytes.end(), '7');
           MemoryContext m(s.bytes);
           m->byte_order = 0x4D4D;
           read_maker_note(m.get(), 0, 0);
           EXPECT_EQ(m->orientation_flags, 0) << n;
         }
       }},
      {"CFA patterns of 5 and 6 colours are ignored; a count of 0 leaves the pattern",
       [] {
         for (std::vector<uint8_t> pattern :
              {std::vector<uint8_t>{0, 1, 2, 3, 4, 5}, std::vector<uint8_t>{9, 8, 7, 6, 5}, std::vector<uint8_t>{}}) {
           TiffWriter w(true);
           TiffIfd& d = w.NewIfd(true);
           d.Image(40, 30, 16, 1, 32803, 1);
           if (pattern.empty()) {
             d.Bytes(33422, 1, {});
           } else {
             d.Bytes(33422, 1, pattern);
           }
           MemoryContext m(w.Bytes());
           m->cfa_pattern = 0x61616161;
           m->colour_count = 3;
           read_tiff_container(m.get(), 0);
           EXPECT_EQ(m->cfa_pattern, 0x61616161u);
           EXPECT_LE(m->colour_count, 4);
           EXPECT_EQ(m->colour_letters[4], 0);
         }
       }},
      {"DNG without a pattern whose samples are 5 is not raw",
       [] {
         TiffWriter w(true);
         w.NewIfd(true).Image(40, 30, 16, 1, 34892, 5).Bytes(50706, 1, {1, 4, 0, 0});
         RunTiff(w.Bytes(), [](raw_decode_context* c) { EXPECT_EQ(c->raw_image_count, 0); });
       }},
      {"linearization curve of count 0",
       [] {
         TiffWriter w(true);
         w.NewIfd(true).Image(40, 30, 16, 1, 32803, 1).Bytes(50712, 3, {});
         MemoryContext m(w.Bytes());
         m->tone_curve[4095] = 77;
         m->white_level = 1000;
         read_tiff_container(m.get(), 0);
         EXPECT_EQ(m->tone_curve[4095], 77);
         EXPECT_EQ(m->white_level, 1000u);
       }},
      {"neutral text block of count 2^32 - 1 running past the end of the file",
       [] {
         TiffWriter w(true);
         w.NewIfd(true).Image(40, 30, 16, 1, 32803, 1).Blob(50454, 7, 40, [](uint32_t) {
           std::string t = "junk\nNeutral 1.5 2.5";
           std::vector<uint8_t> v(t.begin(), t.end());
           return v;
         });
         std::vector<uint8_t> b = w.Bytes();
         // the count says 2^32 - 1, and the block is the last thing in the file
         size_t entry = 8 + 2;
         for (int i = 0; i < 8; ++i) {
           size_t e = entry + 12 * size_t(i);
           if (b[e] == (50454 & 0xFF) && b[e + 1] == (50454 >> 8)) {
             b[e + 4] = b[e + 5] = b[e + 6] = b[e + 7] = 0xFF;
             uint32_t at = uint32_t(b[e + 8] | b[e + 9] << 8 | b[e + 10] << 16 | b[e + 11] << 24);
             b.resize(at + 20);
           }
         }
         // A value that runs past the end is not read at all (its last
         // number may be cut short): the file is marked, nothing is taken.
         RunTiff(b, [](raw_decode_context* c) {
           EXPECT_EQ(c->tag_value_cut, 1);
           EXPECT_FLOAT_EQ(c->camera_multipliers[0], 0);
           EXPECT_FLOAT_EQ(c->camera_multipliers[1], 0);
         });
       }},
      {"texts without their terminating zero",
       [] {
         TiffWriter w(true);
         std::vector<uint8_t> a(200, 'A'), d(600, 'D');
         w.NewIfd(true).Image(40, 30, 16, 1, 32803, 1).Bytes(271, 2, a).Bytes(270, 2, d).Bytes(315, 2, a);
         RunTiff(w.Bytes(), [](raw_decode_context* c) {
           EXPECT_EQ(strlen(c->camera_make), 63u);
           EXPECT_EQ(strlen(c->image_description), 511u);
           EXPECT_EQ(strlen(c->artist_name), 63u);
         });
       }},
      {"thumbnail candidates of 0 and 65535 bits (no division by zero)",
       [] {
         TiffWriter w(true);
         w.NewIfd(true).Image(40, 30, 16, 1, 32803, 1);
         w.NewIfd(true).Image(20, 10, 0xFFFF, 1, 2, 1);
         w.NewIfd(true).Image(20, 10, 0, 1, 2, 1);
         w.NewIfd(true).Image(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 1, 2, 1);
         RunTiff(w.Bytes(), [](raw_decode_context* c) { EXPECT_EQ(c->thumb_width, 0); });
       }},
      {"colour matrix, neutral, black level and pixel aspect with zero denominators",
       [] {
         TiffWriter w(true);
         TiffIfd& d = w.NewIfd(true);
         d.Image(40, 30, 16, 1, 32803, 1).Bytes(33422, 1, {0, 1, 1, 2}).Bytes(50706, 1, {1, 4, 0, 0});
         d.Rational(50714, {{1, 0}}).Rational(50718, {{1, 0}, {1, 1}});
         d.SRational(50721, std::vector<std::pair<int32_t, int32_t>>(9, {1, 0}));
         d.Rational(50728, {{1, 1}, {0, 1}, {1, 1}});
         d.Short(34306, {0, 0, 0, 0});
         RunTiff(w.Bytes(), [](raw_decode_context* c) {
           for (int i = 0; i < 3; ++i)
             for (int j = 0; j < 4; ++j) EXPECT_EQ(c->rgb_from_camera[i][j], 0);
           for (float v : c->camera_multipliers) EXPECT_EQ(v, 0);
           EXPECT_EQ(c->black_level, 0u);
           EXPECT_EQ(c->pixel_aspect_ratio, 1.0);
         });
       }},
      {"CINE white-level shift of 40 and of 0; orientation far out of range",
       [] {
         for (uint32_t shift : {40u, 0u}) {
           std::vector<uint8_t> b(1800, 0);
           // setup at 0: the rotation at 884, the shift at 896
           b[896] = uint8_t(shift);
           b[884] = 0xFF, b[885] = 0xFF, b[886] = 0xFF, b[887] = 0x7F;
           MemoryContext m(b);
           read_cine_header(m.get());
           EXPECT_EQ(m->white_level, shift ? 0xFFFFu : 1u);
         }
       }},
      {"Kodak white-balance index at the top of its range",
       [] {
         TiffWriter w(true);
         TiffIfd& d = w.NewIfd(true);
         TiffIfd& k = w.NewIfd(false);
         d.Image(40, 30, 16, 1, 32803, 1).Pointers(33424, {&k});
         k.Long(1020, {0x7FFFFFFF}).Long(2118, {0xFFFFFFFF});
         RunTiff(w.Bytes());
       }},
      {"degrees stored as orientation: 180 gives 3, 123 gives 0",
       [] {
         for (uint32_t degrees : {180u, 123u}) {
           ByteSink h(true);
           h.PadTo(16);
           h.bytes[12] = uint8_t(degrees);
           h.U16(1), h.U16(0x1810), h.U32(16), h.U32(0);
           h.U32(16);
           MemoryContext m(Ciff(h.bytes));
           m->byte_order = 0x4949;
           read_ciff_heap(m.get(), 26, int64_t(h.bytes.size()));
           EXPECT_EQ(m->orientation_flags, degrees == 180 ? 3 : 0);
         }
       }},
      {"Rollei header without its end line, and a line longer than the buffer",
       [] {
         std::string t = "X  =12\n" + std::string(1000, 'x') + "\nY  =34";
         MemoryContext m(std::vector<uint8_t>(t.begin(), t.end()));
         read_rollei_header(m.get());
         EXPECT_EQ(m->sensor_width, 12);
         EXPECT_EQ(m->sensor_height, 34);
       }},
      {"Sony SR2 block of length 2^32 - 1 at the end of the file",
       [] {
         TiffWriter w(true);
         w.NewIfd(true).Image(40, 30, 16, 1, 32803, 1).Long(29184, {8}).Long(29185, {0xFFFFFFFF});
         RunTiff(w.Bytes());
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    // A row runs on a thread of its own. Each costs milliseconds of
    // processor time (in the sanitizer build too); one whose thread has
    // spent kRowCpuSeconds does not end by itself (an endless loop), and is
    // a fault of its own: the program stops rather than hang. A busy machine
    // makes a row wait, not spend, so only the thread's own time counts.
    constexpr time_t kRowCpuSeconds = 20;
    std::packaged_task<void()> task(row.run);
    auto done = task.get_future();
    std::thread worker(std::move(task));
    clockid_t clock = 0;
    const bool timed = pthread_getcpuclockid(worker.native_handle(), &clock) == 0;
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      timespec spent{};
      if (timed && clock_gettime(clock, &spent) == 0 && spent.tv_sec >= kRowCpuSeconds) {
        fprintf(stderr, "hostile row did not end: %s\n", row.fault);
        std::abort();
      }
    }
    worker.join();
    done.get();
  }
}
