#include "platform/text.h"

namespace pw {
namespace {

constexpr char32_t kEscapeBase = 0xDC00;  // escaped byte b is U+DC00 + b (b >= 0x80)

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the byte
// there does not start one (overlong forms, surrogates and values above
// U+10FFFF are invalid).
size_t ValidSequenceLength(std::string_view s, size_t i, char32_t& out) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  size_t len;
  char32_t cp;
  char32_t min;
  if (b0 < 0x80) {
    out = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2; cp = b0 & 0x1F; min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3; cp = b0 & 0x0F; min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4; cp = b0 & 0x07; min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  out = cp;
  return len;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::wstring NarrowToWide(std::string_view narrow) {
  std::wstring out;
  out.reserve(narrow.size());
  size_t i = 0;
  while (i < narrow.size()) {
    char32_t cp = 0;
    const size_t len = ValidSequenceLength(narrow, i, cp);
    if (len == 0) {
      out.push_back(static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(narrow[i])));
      ++i;
    } else {
      out.push_back(static_cast<wchar_t>(cp));
      i += len;
    }
  }
  return out;
}

std::string WideToNarrow(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (wchar_t wc : wide) {
    const auto cp = static_cast<char32_t>(wc);
    if (cp >= kEscapeBase + 0x80 && cp <= kEscapeBase + 0xFF) {
      out.push_back(static_cast<char>(cp - kEscapeBase));
    } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      return {};
    } else {
      AppendUtf8(out, cp);
    }
  }
  return out;
}

bool IsEncodable(std::wstring_view wide) {
  for (wchar_t wc : wide) {
    const auto cp = static_cast<char32_t>(wc);
    const bool escaped = cp >= kEscapeBase + 0x80 && cp <= kEscapeBase + 0xFF;
    if (!escaped && ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)) return false;
  }
  return true;
}

}  // namespace pw
