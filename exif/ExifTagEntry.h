// One tag of an image file directory: number, TIFF type code, count and a
// typed value. Every entry is an ExifTagEntryT<kind>; the kind agrees with
// the type code (a count above 1 is a std::vector, ASCII a std::string).
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

// TIFF 6.0 field types.
enum ExifTiffType : uint16_t {
  kTiffByte = 1,
  kTiffAscii = 2,
  kTiffShort = 3,
  kTiffLong = 4,
  kTiffRational = 5,
  kTiffSByte = 6,
  kTiffUndefined = 7,
  kTiffSShort = 8,
  kTiffSLong = 9,
  kTiffSRational = 10,
  kTiffFloat = 11,
  kTiffDouble = 12,
  kTiffIfd = 13,  // an offset to a directory; read as LONG
};

// Bytes per element of a type code; 0 for codes the library does not know.
uint32_t TiffTypeSize(uint16_t type);

class ExifTagEntry {
 public:
  ExifTagEntry(uint32_t tag, uint16_t type, uint32_t count) : tag_(tag), type_(type), count_(count) {}
  virtual ~ExifTagEntry() = default;

  virtual std::unique_ptr<ExifTagEntry> Clone() const = 0;
  // tag TAB type TAB count TAB value, no line end.
  virtual std::ostream& Print(std::ostream& out) const = 0;

  uint32_t Tag() const { return tag_; }
  uint16_t Type() const { return type_; }
  uint32_t Count() const { return count_; }
  void SetType(uint16_t t) { type_ = t; }
  void SetCount(uint32_t c) { count_ = c; }

  // Values as numbers, for the writer and the thumbnail bookkeeping.
  // Integer kinds give exact integers, float kinds their value, text none.
  virtual std::vector<double> Numbers() const = 0;
  virtual std::vector<int64_t> Integers() const = 0;

  // A RATIONAL or SRATIONAL entry keeps the numerator/denominator pairs it
  // was read with: its value is a quotient, and a quotient turned back into
  // a fraction seldom gives the stored one (1/250 would come back as
  // 84215/21053749). While the entry keeps its type and values, the writer
  // writes the stored pairs, so a copied tag stays exactly as it was.
  void KeepStoredFractions(std::vector<uint32_t> pairs) {
    storedFractions_ = std::move(pairs);
    storedType_ = type_;
    storedNumbers_ = Numbers();
  }
  // The stored pairs (numerator, denominator, ...), or null once the type or
  // a value has changed since the read.
  const std::vector<uint32_t>* StoredFractions() const {
    if (storedFractions_.empty() || storedType_ != type_ || storedFractions_.size() != 2 * size_t{count_})
      return nullptr;
    return Numbers() == storedNumbers_ ? &storedFractions_ : nullptr;
  }

 protected:
  ExifTagEntry(const ExifTagEntry&) = default;
  ExifTagEntry& operator=(const ExifTagEntry&) = default;

 private:
  uint32_t tag_;
  uint16_t type_;
  uint32_t count_;
  std::vector<uint32_t> storedFractions_;
  uint16_t storedType_ = 0;
  std::vector<double> storedNumbers_;
};

namespace exif_detail {
template <typename T>
struct IsVector : std::false_type {};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {};

// Numbers are printed as numbers: a char is a small integer here, not a letter.
template <typename T>
void PrintScalar(std::ostream& out, const T& v) {
  if constexpr (std::is_same_v<T, unsigned char>) out << static_cast<unsigned>(v);
  else if constexpr (std::is_same_v<T, char> || std::is_same_v<T, signed char>) out << static_cast<int>(v);
  else out << v;
}
}  // namespace exif_detail

template <typename T>
class ExifTagEntryT final : public ExifTagEntry {
  static constexpr bool kContainer = exif_detail::IsVector<T>::value || std::is_same_v<T, std::string>;

 public:
  ExifTagEntryT(uint32_t tag, uint16_t type, uint32_t count, const T& value)
      : ExifTagEntry(tag, type, count), value_(value) {}
  // Vectors and texts are taken over; the argument is left empty.
  ExifTagEntryT(uint32_t tag, uint16_t type, uint32_t count, T&& value)
      : ExifTagEntry(tag, type, count), value_(std::move(value)) {
    if constexpr (kContainer) value.clear();
  }
  template <typename U = T>
    requires(exif_detail::IsVector<U>::value || std::is_same_v<U, std::string>)
  ExifTagEntryT(uint32_t tag, uint16_t type, uint32_t count, U& value)
      : ExifTagEntry(tag, type, count), value_(std::move(value)) {
    value.clear();
  }

  std::unique_ptr<ExifTagEntry> Clone() const override {
    return std::unique_ptr<ExifTagEntry>(new ExifTagEntryT<T>(*this));
  }

  std::ostream& Print(std::ostream& out) const override {
    out << Tag() << '\t' << Type() << '\t' << Count() << '\t';
    if constexpr (exif_detail::IsVector<T>::value) {
      out << '[';
      for (size_t i = 0; i < value_.size(); ++i) {
        if (i) out << ',';
        exif_detail::PrintScalar(out, value_[i]);
      }
      out << ']';
    } else {
      exif_detail::PrintScalar(out, value_);
    }
    return out;
  }

  std::vector<double> Numbers() const override {
    std::vector<double> out;
    if constexpr (exif_detail::IsVector<T>::value) {
      for (const auto& v : value_) out.push_back(static_cast<double>(v));
    } else if constexpr (!std::is_same_v<T, std::string>) {
      out.push_back(static_cast<double>(value_));
    }
    return out;
  }

  std::vector<int64_t> Integers() const override {
    std::vector<int64_t> out;
    if constexpr (exif_detail::IsVector<T>::value) {
      for (const auto& v : value_) out.push_back(ToInt(v));
    } else if constexpr (!std::is_same_v<T, std::string>) {
      out.push_back(ToInt(value_));
    }
    return out;
  }

  const T& Value() const { return value_; }
  T& Value() { return value_; }

 private:
  ExifTagEntryT(const ExifTagEntryT&) = default;

  template <typename U>
  static int64_t ToInt(U v) {
    if constexpr (std::is_floating_point_v<U>) {
      // Float kinds are never written as integers by the library; clamp so
      // that a stray conversion stays defined.
      if (!(v == v)) return 0;
      if (v >= 9.2e18) return INT64_MAX;
      if (v <= -9.2e18) return INT64_MIN;
      return static_cast<int64_t>(v);
    } else {
      return static_cast<int64_t>(v);
    }
  }

  T value_;
};

// The seventeen value kinds.
using ExifEntryU32 = ExifTagEntryT<unsigned int>;
using ExifEntryU16 = ExifTagEntryT<unsigned short>;
using ExifEntryU16Vec = ExifTagEntryT<std::vector<unsigned short>>;
using ExifEntryU32Vec = ExifTagEntryT<std::vector<unsigned int>>;
using ExifEntryU8 = ExifTagEntryT<unsigned char>;
using ExifEntryU8Vec = ExifTagEntryT<std::vector<unsigned char>>;
using ExifEntryS8 = ExifTagEntryT<char>;
using ExifEntryS8Vec = ExifTagEntryT<std::vector<char>>;
using ExifEntryS16 = ExifTagEntryT<short>;
using ExifEntryS16Vec = ExifTagEntryT<std::vector<short>>;
using ExifEntryS32 = ExifTagEntryT<int>;
using ExifEntryS32Vec = ExifTagEntryT<std::vector<int>>;
using ExifEntryFloat = ExifTagEntryT<float>;
using ExifEntryFloatVec = ExifTagEntryT<std::vector<float>>;
using ExifEntryDouble = ExifTagEntryT<double>;
using ExifEntryDoubleVec = ExifTagEntryT<std::vector<double>>;
using ExifEntryText = ExifTagEntryT<std::string>;
