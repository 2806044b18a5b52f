// Owns a POSIX file descriptor.
#pragma once

#include <unistd.h>

namespace pw {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      close();
      fd_ = other.release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports close's result (a deferred write error shows here).
  int close() {
    if (fd_ < 0) return 0;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_ = -1;
};

}  // namespace pw
