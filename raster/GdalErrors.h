// Keeps GDAL's messages off the terminal while one of our operations runs
// and remembers whether any of them was a failure, so that a write error
// that GDAL only reports through its handler is not mistaken for success.
#pragma once

#include <string>

namespace pw {

class GdalErrorScope {
 public:
  GdalErrorScope();
  ~GdalErrorScope();
  GdalErrorScope(const GdalErrorScope&) = delete;
  GdalErrorScope& operator=(const GdalErrorScope&) = delete;

  bool Failed() const { return failed_; }
  // The first failure's text.
  const std::string& Message() const { return message_; }

 private:
  static void Handler(int errClass, int errNo, const char* msg);
  bool failed_ = false;
  std::string message_;
};

}  // namespace pw
