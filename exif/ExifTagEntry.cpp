#include "exif/ExifTagEntry.h"

uint32_t TiffTypeSize(uint16_t type) {
  switch (type) {
    case kTiffByte: case kTiffAscii: case kTiffSByte: case kTiffUndefined: return 1;
    case kTiffShort: case kTiffSShort: return 2;
    case kTiffLong: case kTiffSLong: case kTiffFloat: return 4;
    case kTiffRational: case kTiffSRational: case kTiffDouble: return 8;
    default: return 0;
  }
}

// Keep the templates' code in one object file for the common kinds.
template class ExifTagEntryT<unsigned int>;
template class ExifTagEntryT<unsigned short>;
template class ExifTagEntryT<std::vector<unsigned short>>;
template class ExifTagEntryT<std::vector<unsigned int>>;
template class ExifTagEntryT<unsigned char>;
template class ExifTagEntryT<std::vector<unsigned char>>;
template class ExifTagEntryT<char>;
template class ExifTagEntryT<std::vector<char>>;
template class ExifTagEntryT<short>;
template class ExifTagEntryT<std::vector<short>>;
template class ExifTagEntryT<int>;
template class ExifTagEntryT<std::vector<int>>;
template class ExifTagEntryT<float>;
template class ExifTagEntryT<std::vector<float>>;
template class ExifTagEntryT<double>;
template class ExifTagEntryT<std::vector<double>>;
template class ExifTagEntryT<std::string>;
