#include "app/Dialogs.h"

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/utils.h>

#include "app/CommandIds.h"
#include "app/MessageBox.h"
#include "app/Resources.h"

namespace pw {
namespace {

FileDialogHook& Hook() {
  static FileDialogHook hook;
  return hook;
}

// The toolkit matches patterns case-sensitively while people expect
// "*.jpg" to find IMG_1.JPG: offer both spellings.
wxString CasePatterns(const wxString& ext) {
  wxString lower = ext.Lower(), upper = ext.Upper();
  wxString patterns = "*." + lower;
  if (upper != lower) patterns += ";*." + upper;
  if (ext != lower && ext != upper) patterns += ";*." + ext;
  return patterns;
}

wxString AllFilesEntry() { return LoadString(cmd::IDS_FILTER_ALL) + "|*"; }

std::wstring Run(const FileDialogRequest& request) {
  if (Hook()) return Hook()(request);
  if (request.kind == FileDialogRequest::Folder) {
    const wxString start = wxDirExists(request.defaultDir) ? request.defaultDir : wxGetHomeDir();
    wxDirDialog dialog(BoxParent(nullptr), request.title, start, wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    return ShowClosableModal(dialog) == wxID_OK ? dialog.GetPath().ToStdWstring() : std::wstring();
  }
  long style = request.kind == FileDialogRequest::Save ? wxFD_SAVE | wxFD_OVERWRITE_PROMPT
                                                       : wxFD_OPEN | wxFD_FILE_MUST_EXIST;
  wxFileDialog dialog(BoxParent(nullptr), request.title, request.defaultDir, request.defaultName,
                      request.filter, style);
  // A session's end closes it like a box (CloseMessageBoxes).
  if (ShowClosableModal(dialog) != wxID_OK) return {};
  wxString path = dialog.GetPath();
  // A name typed without an extension gets the default one, as a save
  // dialog with a default extension does elsewhere.
  if (request.kind == FileDialogRequest::Save && !request.defaultExtension.empty() &&
      wxFileName(path).GetExt().empty())
    path += request.defaultExtension;
  return path.ToStdWstring();
}

wxString StripOneDot(const std::wstring& ext) {
  return wxString(!ext.empty() && ext[0] == L'.' ? ext.substr(1) : ext);
}

}  // namespace

wxString BuildExtensionFilter(const std::vector<std::wstring>& extensions, bool allFiles) {
  wxString filter;
  for (const auto& e : extensions) {
    wxString ext = StripOneDot(e);
    if (!filter.empty()) filter += "|";
    filter += ext + LoadString(cmd::IDS_FILTER_FILES) + ext + ")|" + CasePatterns(ext);
  }
  if (allFiles) {
    if (!filter.empty()) filter += "|";
    filter += AllFilesEntry();
  }
  return filter;
}

void SetFileDialogHook(FileDialogHook hook) { Hook() = std::move(hook); }

std::wstring BrowseForFolder(const std::wstring& title, const std::wstring& startFolder) {
  FileDialogRequest r;
  r.kind = FileDialogRequest::Folder;
  r.title = wxString(title);
  r.defaultDir = wxString(startFolder);
  return Run(r);
}

std::wstring PickOpenFile() {
  FileDialogRequest r;
  r.title = LoadString(cmd::IDS_DLG_OPEN);
  r.filter = AllFilesEntry();
  return Run(r);
}

std::wstring PickOpenFileByExtensions(const std::vector<std::wstring>& extensions) {
  FileDialogRequest r;
  r.title = LoadString(cmd::IDS_DLG_OPEN);
  r.filter = BuildExtensionFilter(extensions, true);
  return Run(r);
}

std::wstring PickSaveFileByExtensions(const std::wstring& defaultExtension,
                                      const std::wstring& defaultName,
                                      const std::wstring& defaultDir) {
  std::size_t dot = defaultExtension.rfind(L'.');
  std::wstring ext = dot == std::wstring::npos ? defaultExtension : defaultExtension.substr(dot + 1);
  if (ext.empty()) return {};
  FileDialogRequest r;
  r.kind = FileDialogRequest::Save;
  r.title = LoadString(cmd::IDS_DLG_SAVE_AS);
  r.filter = BuildExtensionFilter({ext}, false);
  r.defaultExtension = wxString(L"." + ext);
  r.defaultName = wxString(defaultName);
  r.defaultDir = wxString(defaultDir);
  return Run(r);
}

}  // namespace pw

