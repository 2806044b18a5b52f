// Rasters written by GDAL at test time, in a scratch folder per test.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pwtest {

// A fresh folder under $TMPDIR, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sample value of band b at column x, row t counted from the TOP (GDAL's
// own order), so fixtures read as the file holds them.
using SampleFn = std::function<double(int x, int t, int b)>;

// Writes a GeoTIFF (or any format by driver name) through GDAL's API.
// `gdalType` is a GDALDataType code; `geo` optionally sets the geotransform.
void WriteRaster(const std::string& path, int width, int height, int bands, int gdalType,
                 const SampleFn& value, const char* driver = "GTiff",
                 const std::vector<double>& geo = {}, const std::vector<std::string>& options = {});

// Gives band 1 of an existing GeoTIFF a colour table (red, green, blue,
// alpha per entry) and marks it as palette indices, through GDAL.
void SetPalette(const std::string& path, const std::vector<std::vector<int>>& entries);

// Every sample of band b of a file, top row first, as doubles.
std::vector<double> ReadBand(const std::string& path, int band, int* width = nullptr,
                             int* height = nullptr, int* dataType = nullptr, int* bands = nullptr);

// Runs a shell command; its exit status.
int Run(const std::string& command);

int64_t FileSize(const std::string& path);  // -1 when missing
bool Exists(const std::string& path);

// A file's bytes ("" when missing), and a file made of the given bytes.
std::string Contents(const std::string& path);
void Put(const std::string& path, const std::string& bytes);

}  // namespace pwtest
