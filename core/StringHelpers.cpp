#include "core/StringHelpers.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\n' || c == L'\r' || c == L'\t'; }

}  // namespace

std::wstring ToWideString(int32_t value) { return std::to_wstring(value); }

std::wstring UnsignedToWideString(uint32_t value) { return std::to_wstring(value); }

std::wstring ChangeCase(const std::wstring& text, bool lower) {
  std::wstring out = text;
  for (wchar_t& c : out) {
    if (lower && c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    else if (!lower && c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return out;
}

std::wstring TrimSpaces(const std::wstring& text, wchar_t extra) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  while (begin < end && text[begin] == extra) ++begin;
  while (end > begin && text[end - 1] == extra) --end;
  return text.substr(begin, end - begin);
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  const std::wstring t = TrimSpaces(ChangeCase(text, true), L' ');
  const std::wstring p = TrimSpaces(ChangeCase(prefix, true), L' ');
  return t.compare(0, p.size(), p) == 0;
}

bool AllStartWithNoCase(const std::vector<std::wstring>& list, const std::wstring& prefix) {
  for (const std::wstring& item : list)
    if (!StartsWithNoCase(item, prefix)) return false;
  return true;
}

int32_t IndexOfString(const std::vector<std::wstring>& list, const std::wstring& text) {
  for (size_t i = 0; i < list.size() && i < static_cast<size_t>(INT32_MAX); ++i)
    if (list[i] == text) return static_cast<int32_t>(i);
  return -1;
}

std::wstring ReplaceAll(const std::wstring& text, const std::wstring& pattern,
                        const std::wstring& replacement) {
  if (pattern.empty()) return text;
  // Searching again from the start only ends for sure when every step
  // shortens the text; otherwise replace the occurrences one pass forward.
  if (replacement.size() >= pattern.size()) return ReplaceAllForward(text, pattern, replacement);
  std::wstring out = text;
  for (size_t pos = out.find(pattern); pos != std::wstring::npos; pos = out.find(pattern))
    out.replace(pos, pattern.size(), replacement);
  return out;
}

std::wstring ReplaceAllForward(const std::wstring& text, const std::wstring& pattern,
                               const std::wstring& replacement) {
  if (pattern.empty()) return text;
  std::wstring out = text;
  for (size_t pos = out.find(pattern); pos != std::wstring::npos;
       pos = out.find(pattern, pos + replacement.size()))
    out.replace(pos, pattern.size(), replacement);
  return out;
}

std::vector<std::wstring> SplitString(const std::wstring& text, const std::wstring& separator) {
  std::vector<std::wstring> out;
  if (text.empty()) return out;
  if (separator.empty()) {
    out.push_back(text);
    return out;
  }
  size_t start = 0;
  for (;;) {
    const size_t pos = text.find(separator, start);
    if (pos == std::wstring::npos) {
      out.push_back(text.substr(start));
      return out;
    }
    out.push_back(text.substr(start, pos - start));
    start = pos + separator.size();
  }
}

size_t SplitCString(const std::wstring& text, wchar_t separator, std::vector<std::wstring>& out) {
  for (std::wstring& piece : SplitString(text, std::wstring(1, separator))) out.push_back(std::move(piece));
  return out.size();
}
