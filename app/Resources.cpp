#include "app/Resources.h"

#include <cstdlib>
#include <map>
#include <sstream>

#include <wx/image.h>
#include <wx/mstream.h>

#include "resources/embedded.h"

namespace pw {
namespace {

std::string ResourceText(std::string_view name) {
  const EmbeddedResource* r = FindEmbeddedResource(name);
  if (!r) return {};
  return std::string(reinterpret_cast<const char*>(r->data), r->size);
}

// Splits the tab-separated lines of a table, skipping comments and empty lines.
std::vector<std::vector<std::string>> ReadTable(std::string_view name) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(ResourceText(name));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;) {
      std::size_t tab = line.find('\t', start);
      cells.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

const std::map<int, wxString>& StringTable() {
  static const std::map<int, wxString> table = [] {
    std::map<int, wxString> t;
    for (const auto& row : ReadTable("strings.tsv"))
      if (row.size() >= 2) t[std::atoi(row[0].c_str())] = wxString::FromUTF8(row[1]);
    return t;
  }();
  return table;
}

}  // namespace

wxString LoadString(int id) {
  const auto& table = StringTable();
  auto it = table.find(id);
  return it == table.end() ? wxString() : it->second;
}

const std::vector<RibbonItem>& RibbonTable() {
  static const std::vector<RibbonItem> items = [] {
    std::vector<RibbonItem> v;
    for (auto& row : ReadTable("ribbon.tsv")) {
      row.resize(5);
      v.push_back({row[0], std::atoi(row[1].c_str()), row[2], wxString::FromUTF8(row[3]), row[4]});
    }
    return v;
  }();
  return items;
}

wxString RibbonText(int id) {
  for (const auto& item : RibbonTable())
    if (item.id == id && item.kind != "page") return item.text;
  return {};
}

wxBitmap LoadIcon(const std::string& name, bool small) {
  if (name.empty()) return wxBitmap();
  const EmbeddedResource* r =
      FindEmbeddedResource("icons/" + name + (small ? "_16" : "") + ".png");
  if (!r) return wxBitmap();
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  wxMemoryInputStream in(r->data, r->size);
  wxImage image(in, wxBITMAP_TYPE_PNG);
  return image.IsOk() ? wxBitmap(image) : wxBitmap();
}

}  // namespace pw
