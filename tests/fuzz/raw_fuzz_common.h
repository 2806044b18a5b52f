// The setup the RAW decoder's fuzz targets share: the input after its mode
// byte, a decode context reading it from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "rawdecode/raw_context.h"
#include "rawdecode/raw_stream.h"

namespace pwfuzz {

struct RawFuzzInput {
  RawFuzzInput(const uint8_t* data, size_t size) : body(data, data + size), ctx(raw_context_create()) {
    stream.data = body.data();
    stream.size = body.size();
    raw_set_stream(ctx.get(), &raw_memory_ops, &stream);
    ctx->message_name = "fuzz";
  }
  RawFuzzInput(const RawFuzzInput&) = delete;
  RawFuzzInput& operator=(const RawFuzzInput&) = delete;

  std::vector<uint8_t> body;
  raw_memory_stream stream;
  std::unique_ptr<raw_decode_context> ctx;
};

}  // namespace pwfuzz
