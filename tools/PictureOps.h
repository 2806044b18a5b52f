// Whole-picture operations the batch tools share: convert one picture,
// convert an animated GIF frame by frame, convert an icon from its largest
// frame, merge pictures into one, read the EXIF shooting time, and name a
// file's format by its extension. Each call works on its own local images
// and files, so batch workers may run them on several threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "imagelib/PxImage.h"
#include "platform/progress.h"

// JPEG quality for pictures written as JPEG by ConvertPicture,
// ConvertIcoPicture and MergePictures. Set by the Start handlers (only with
// 1..100) before a run, read by the workers during it.
extern std::atomic<int> g_JpegQuality;

// The format named by the path's extension (lower-cased, without the dot);
// 0 when the extension is unknown or missing.
ImageFormatId ImageTypeFromPath(const std::wstring& path);

// Turns a freshly loaded picture upright by its EXIF orientation (2 and 4
// mirrored, 3 half a turn, 6 clockwise, 8 counter-clockwise, 5 and 7
// mirrored and turned), then sets the orientation to 1 so a second call
// does nothing.
void ApplyExifOrientation(PxImage& image);

// True for the EXIF orientations 5 to 8, which store the picture on its
// side (5 and 7 mirrored too): shown, its width and height are exchanged.
bool StoredOnItsSide(int32_t orientation);

// True when the image has a palette that is the identity grey ramp (entry i
// is (i, i, i)): such an image is written with its palette.
bool KeepsPalette(const PxImage& image);

// Loads `source`, brings it to the target format's needs (upright, 24 bits
// unless it keeps its palette, 8 bits with the standard palette for GIF),
// resamples to width x height when both are positive, optionally to grey,
// and writes `target`, replacing it only after a complete write. False when
// the source does not load or the target cannot be written, and, with
// `refuseDamaged`, when the decoder had to pad missing or unreadable data
// (the result would be about to replace the original). A JPEG source is
// decoded at 1/`jpegScale` of its size (1, 2, 4 or 8; see
// JpegScaleCovering). `damaged`, when given, tells whether the decoder had
// to pad data it could not read (the result was still written).
// `tooLarge`, when given, tells whether it failed because the picture could
// not take the asked size (beyond the picture size limit).
bool ConvertPicture(const std::wstring& source, const std::wstring& target, const int32_t& width,
                    const int32_t& height, const bool& grey, bool refuseDamaged = false,
                    uint8_t jpegScale = 1, bool* damaged = nullptr, bool* tooLarge = nullptr);

// The largest JPEG decode scale denominator (8, 4, 2 or 1) at which a
// picture stored as storedW x storedH still decodes to at least w x h
// pixels: the decoder averages each 2^k x 2^k block on the way, so a
// smaller picture costs less to decode and samples the picture better
// than picking single pixels of the full size. 1 when w or h is not
// positive.
uint8_t JpegScaleCovering(int32_t storedW, int32_t storedH, int32_t w, int32_t h);

// GIF to GIF, every frame (resampled when the size is positive, to grey on
// request), with a loop count of 0. False when the source does not load or
// the target cannot be written. `damaged` and `tooLarge` as for
// ConvertPicture (any frame).
bool ConvertGifFrames(const std::wstring& source, const std::wstring& target, int32_t width,
                      int32_t height, bool grey, CProgressInterface* progress,
                      bool refuseDamaged = false, bool* damaged = nullptr,
                      bool* tooLarge = nullptr);

// An icon converted from its widest frame. False when the source does not
// load, its frames cannot be listed or the target cannot be written.
bool ConvertIcoPicture(const std::wstring& source, const std::wstring& target, int32_t width,
                       int32_t height, bool grey, bool refuseDamaged = false);

// The widest frame of an icon (the later one among equals).
bool ChooseIcoFrame(const std::wstring& path, int32_t& frame, int32_t& width, int32_t& height);

// Merges `files` into one picture written to `output`: one below the other
// when `vertical`, else side by side. With fixedSize > 0 the first picture
// is scaled to that width (vertical) or height (side by side) first; each
// further picture is scaled to match. The first picture's pixels reach the
// output unchanged (no staging through another format); a JPEG output is
// written at g_JpegQuality. False for an empty list, a first picture that
// does not load, a further picture that does not load (the others are still
// merged and written), an output that cannot be written, or a size that
// cannot be made (the fixed size, or a further picture scaled to match,
// beyond the picture size limit): then nothing is written and `tooLarge`,
// when given, is set.
bool MergePictures(std::vector<std::wstring> files, const std::wstring& output, bool vertical,
                   int32_t fixedSize, bool grey, CProgressInterface* progress,
                   bool* tooLarge = nullptr);

bool JoinSideBySide(PxImage* left, PxImage* right, PxImage* out);
bool JoinTopToBottom(PxImage* top, PxImage* bottom, PxImage* out);

// Reads a JPEG's size and EXIF digest from its header alone (no pixels).
// False for anything that is not a JPEG with a readable header.
bool ReadJpegHeader(const std::wstring& path, PxImage& image);

// The EXIF shooting date-time ("YYYY:MM:DD hh:mm:ss") of a picture, trimmed.
// False when the file is not a JPEG whose header reads, or has no EXIF
// block or no date-time.
bool ReadShootingTime(std::wstring path, std::wstring& text);

// When `source` and `destination` are both PNG files by name, gives the
// written `staged` picture the source's eXIf chunk, its pixel-size tags set
// to width x height (0 x 0: left as they are). True when there was nothing
// to carry or it was carried; false when the source's chunk could not be
// read or the staged file not rewritten (its tags would be lost).
bool CarryPngExif(const std::wstring& source, const std::wstring& destination,
                  const std::wstring& staged, uint32_t width, uint32_t height);

// The same for a TIFF (its page's EXIF directory) or a PNG (its eXIf
// chunk), read from the file's header: the time a picture made from it
// states. False for other formats and for files that state none.
bool ReadStatedShootingTime(const std::wstring& path, std::wstring& text);

// Writes `image` as `format` to `target`, replacing an existing file only
// after a complete, successful write.
bool WritePicture(PxImage& image, const std::wstring& target, ImageFormatId format);
