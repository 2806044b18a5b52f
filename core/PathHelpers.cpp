#include "core/PathHelpers.h"

namespace {

// Position of the extension's "." in the last component, or npos.
size_t ExtensionDot(const std::wstring& path, wchar_t sep) {
  const size_t slash = path.rfind(sep);
  const size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || dot <= nameStart) return std::wstring::npos;  // none, or a leading dot
  return dot;
}

}  // namespace

std::wstring EnsureTrailingSeparator(const std::wstring& path, wchar_t sep) {
  if (path.empty() || path.back() == sep) return path;
  return path + sep;
}

std::wstring TrimTrailingSeparators(const std::wstring& path, wchar_t sep) {
  size_t end = path.size();
  while (end > 1) {
    const wchar_t c = path[end - 1];
    if (c != L' ' && c != L'\t' && c != L'\r' && c != L'\n' && c != sep) break;
    --end;
  }
  return path.substr(0, end);
}

std::wstring GetParentDir(const std::wstring& path, wchar_t sep) {
  const std::wstring trimmed = TrimTrailingSeparators(path, sep);
  const size_t slash = trimmed.rfind(sep);
  if (slash == std::wstring::npos) return trimmed;
  if (slash == 0) return std::wstring(1, sep);
  return trimmed.substr(0, slash);
}

std::wstring GetLastComponent(const std::wstring& path, wchar_t sep) {
  const std::wstring trimmed = TrimTrailingSeparators(path, sep);
  const size_t slash = trimmed.rfind(sep);
  return slash == std::wstring::npos ? trimmed : trimmed.substr(slash + 1);
}

std::wstring GetFileName(const std::wstring& path, bool keepExtension, wchar_t sep) {
  const size_t slash = path.rfind(sep);
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  if (!keepExtension) {
    const size_t dot = ExtensionDot(name, sep);
    if (dot != std::wstring::npos) name.resize(dot);
  }
  return name;
}

std::wstring GetExtension(const std::wstring& path, bool withDot) {
  const std::wstring name = GetFileName(path, true, kPathSep);
  const size_t dot = ExtensionDot(name, kPathSep);
  if (dot == std::wstring::npos) return std::wstring();
  return name.substr(withDot ? dot : dot + 1);
}

std::wstring ReplaceExtension(const std::wstring& path, const std::wstring& newEnding) {
  const size_t dot = ExtensionDot(path, kPathSep);
  return (dot == std::wstring::npos ? path : path.substr(0, dot)) + newEnding;
}

bool IsSameOrBelow(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || folder.back() == kPathSep || path[folder.size()] == kPathSep;
}

std::wstring GetCommonParentDir(const std::vector<std::wstring>& paths) {
  if (paths.empty()) return std::wstring();
  std::wstring current = paths.front();
  for (;;) {
    const std::wstring parent = GetParentDir(current, kPathSep);
    if (parent == current) break;
    current = parent;
    bool all = true;
    for (const std::wstring& p : paths) {
      if (!IsSameOrBelow(p, current)) {
        all = false;
        break;
      }
    }
    if (all) return current;
  }
  // Climbing stopped without a folder that holds them all: only the root is shared.
  return std::wstring(1, kPathSep);
}

bool IsJpegFile(const std::wstring& path) {
  const std::wstring ext = ChangeCase(GetExtension(path, true), true);
  return ext == L".jpg" || ext == L".jpeg";
}
