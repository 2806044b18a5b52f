// The standard folder, open and save dialogs. Each returns the chosen path,
// or the empty text when the user cancels.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include <wx/string.h>

namespace pw {

// Opens on `startFolder` when it is an existing folder, else on the home
// folder (the toolkit's own choice is a page of recent files, not a folder).
std::wstring BrowseForFolder(const std::wstring& title, const std::wstring& startFolder = {});
std::wstring PickOpenFile();
std::wstring PickOpenFileByExtensions(const std::vector<std::wstring>& extensions);
// `defaultDir`, when given, is the folder the dialog opens in.
std::wstring PickSaveFileByExtensions(const std::wstring& defaultExtension,
                                      const std::wstring& defaultName,
                                      const std::wstring& defaultDir = {});

// What a file dialog is asked to show, in the filter form "text|patterns|..."
// the toolkit takes (no trailing "||").
struct FileDialogRequest {
  enum Kind { Folder, Open, Save } kind = Open;
  wxString title;
  wxString filter;
  wxString defaultExtension;  // with its dot, save dialogs only
  wxString defaultName;
  wxString defaultDir;  // the folder to open in; empty: the toolkit's choice (folders: home)
};

// The filter for a list of extensions: for each, "<ext>文件（*.<ext>)" with
// the patterns of both letter cases, then, when allFiles is set, "所有文件(*.*)"
// matching every file. Each extension loses one leading ".".
wxString BuildExtensionFilter(const std::vector<std::wstring>& extensions, bool allFiles);

// Test hook: while set, the dialog functions hand their request to it and
// return its answer instead of showing a dialog.
using FileDialogHook = std::function<std::wstring(const FileDialogRequest&)>;
void SetFileDialogHook(FileDialogHook hook);

}  // namespace pw
