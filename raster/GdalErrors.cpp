#include "raster/GdalErrors.h"

#include <cpl_error.h>

namespace pw {

GdalErrorScope::GdalErrorScope() {
  CPLPushErrorHandlerEx(
      [](CPLErr errClass, CPLErrorNum errNo, const char* msg) {
        Handler(int(errClass), int(errNo), msg);
      },
      this);
}

GdalErrorScope::~GdalErrorScope() { CPLPopErrorHandler(); }

void GdalErrorScope::Handler(int errClass, int, const char* msg) {
  // The handler stack is per thread, so the scope on top is ours.
  auto* self = static_cast<GdalErrorScope*>(CPLGetErrorHandlerUserData());
  if (!self || errClass < CE_Failure) return;
  if (!self->failed_) self->message_ = msg ? msg : "";
  self->failed_ = true;
}

}  // namespace pw
