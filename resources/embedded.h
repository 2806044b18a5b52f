// Resource files (string table, ribbon table, icons) compiled into the
// program. Each blob is followed by one zero byte that is not counted in
// its size, so text resources can be read as C strings.
#pragma once
#include <cstddef>
#include <string_view>

namespace pw {

struct EmbeddedResource {
  const char* name;           // path below resources/, e.g. "icons/open.png"
  const unsigned char* data;  // the file's bytes
  std::size_t size;           // byte count without the trailing zero
};

// The resource of that name, or null.
const EmbeddedResource* FindEmbeddedResource(std::string_view name);

}  // namespace pw
