// The MNG reader's look at a chunk list before libmng sees it. libmng is fed
// the edited copy this makes:
// - LOOP and ENDL chunks are left out, so each loop body plays once (the
//   reader counts every stored frame once) and libmng, whose playback cache
//   stays off, can never spin on a loop whose body draws nothing;
// - the MHDR canvas is cut to the part the images can reach (their sizes
//   at their DEFI places), so a tiny file cannot make libmng allocate and
//   repaint a canvas of 9000 x 9000 for frames of a few pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mngchunks {

struct Prepared {
  std::vector<uint8_t> bytes;  // what libmng reads
};

// An MNG, JNG or PNG signature at `data`.
bool HasSignature(const uint8_t* data, size_t size);

// `data` is the file from its signature on. A stream that is not an MNG,
// JNG or PNG is handed on as it is (libmng refuses it with its own text);
// chunks after a damaged length are handed on as they are.
Prepared PrepareStream(const uint8_t* data, size_t size);

}  // namespace mngchunks
