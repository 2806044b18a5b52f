// The error manager shared by the EXIF library's libjpeg wrappers: libjpeg
// reports a fatal error by calling error_exit, which here formats the
// message, raises the error flag and jumps back to the entry of the
// running wrapper operation. Warnings count as errors (a picture that
// needs one is not trusted), except the one about an unknown JFIF
// revision, which many cameras write.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

struct ExifJpegErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  int32_t error;
  char message[200];
};

// Standard methods and message table, then our exit and message handlers.
// Returns the manager's public part for cinfo->err.
jpeg_error_mgr* InitExifJpegErrors(ExifJpegErrorManager* manager);
