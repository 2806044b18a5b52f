#include "fixtures.h"
#include "tests/needed_programs.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace pwtest {

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pwraster-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void SetPalette(const std::string& path, const std::vector<std::vector<int>>& entries) {
  GDALAllRegister();
  GDALDataset* ds = GDALDataset::FromHandle(GDALOpen(path.c_str(), GA_Update));
  ASSERT_NE(ds, nullptr);
  GDALColorTable table;
  for (size_t i = 0; i < entries.size(); ++i) {
    const GDALColorEntry e{short(entries[i][0]), short(entries[i][1]), short(entries[i][2]),
                           short(entries[i][3])};
    table.SetColorEntry(int(i), &e);
  }
  EXPECT_EQ(ds->GetRasterBand(1)->SetColorTable(&table), CE_None);
  EXPECT_EQ(ds->GetRasterBand(1)->SetColorInterpretation(GCI_PaletteIndex), CE_None);
  GDALClose(ds);
}

void WriteRaster(const std::string& path, int width, int height, int bands, int gdalType,
                 const SampleFn& value, const char* driverName, const std::vector<double>& geo,
                 const std::vector<std::string>& options) {
  GDALAllRegister();
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDataset* ds = mem->Create("", width, height, bands, GDALDataType(gdalType), nullptr);
  ASSERT_NE(ds, nullptr);
  std::vector<double> row(static_cast<size_t>(width));
  for (int b = 0; b < bands; ++b) {
    for (int t = 0; t < height; ++t) {
      for (int x = 0; x < width; ++x) row[size_t(x)] = value(x, t, b);
      ASSERT_EQ(ds->GetRasterBand(b + 1)->RasterIO(GF_Write, 0, t, width, 1, row.data(), width, 1,
                                                   GDT_Float64, 0, 0, nullptr),
                CE_None);
    }
  }
  if (geo.size() == 6) ds->SetGeoTransform(const_cast<double*>(geo.data()));
  std::vector<const char*> opts;
  for (const std::string& o : options) opts.push_back(o.c_str());
  opts.push_back(nullptr);
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName);
  ASSERT_NE(driver, nullptr) << driverName;
  GDALDataset* out = driver->CreateCopy(path.c_str(), ds, TRUE, const_cast<char**>(opts.data()),
                                        nullptr, nullptr);
  ASSERT_NE(out, nullptr) << path;
  GDALClose(out);
  GDALClose(ds);
}

std::vector<double> ReadBand(const std::string& path, int band, int* width, int* height,
                             int* dataType, int* bands) {
  GDALAllRegister();
  GDALDataset* ds = GDALDataset::FromHandle(GDALOpen(path.c_str(), GA_ReadOnly));
  if (!ds) return {};
  const int w = ds->GetRasterXSize(), h = ds->GetRasterYSize();
  if (width) *width = w;
  if (height) *height = h;
  if (bands) *bands = ds->GetRasterCount();
  if (dataType) *dataType = ds->GetRasterBand(1)->GetRasterDataType();
  std::vector<double> v(size_t(w) * h);
  if (ds->GetRasterBand(band + 1)->RasterIO(GF_Read, 0, 0, w, h, v.data(), w, h, GDT_Float64, 0,
                                            0, nullptr) != CE_None)
    v.clear();
  GDALClose(ds);
  return v;
}

int Run(const std::string& command) {
  if (!CheckProgramOf(command)) return 127;
  const int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

bool Exists(const std::string& path) { return FileSize(path) >= 0; }

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace pwtest
