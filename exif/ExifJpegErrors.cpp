#include "exif/ExifJpegErrors.h"

#include <cstring>

extern "C" {
#include <jerror.h>
}

namespace {

void ExitToOperation(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ExifJpegErrorManager*>(cinfo->err);
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  snprintf(manager->message, sizeof manager->message, "%s", text);
  manager->error = 1;
  longjmp(manager->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  // Trace messages (level 0 and up) are not shown.
  if (level < 0 && cinfo->err->msg_code != JWRN_JFIF_MAJOR) ExitToOperation(cinfo);
}

}  // namespace

jpeg_error_mgr* InitExifJpegErrors(ExifJpegErrorManager* manager) {
  jpeg_error_mgr* pub = jpeg_std_error(&manager->pub);
  pub->error_exit = ExitToOperation;
  pub->emit_message = OnMessage;
  manager->error = 0;
  manager->message[0] = '\0';
  return pub;
}
