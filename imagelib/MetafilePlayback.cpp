#include "imagelib/MetafilePlayback.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace metafile {

namespace {

// A player that stops answering (it never should: its processor time is
// limited) is given up after this long.
constexpr auto kAnswerDeadline = std::chrono::seconds(30);

std::string FindPlayer() {
  const std::string beside = pw::FolderOf(pw::ExecutablePath()) + "/" + PlayerName();
  if (!pw::ExecutablePath().empty() && ::access(beside.c_str(), X_OK) == 0) return beside;
#ifdef PW_METAFILE_PLAYER_PATH
  if (::access(PW_METAFILE_PLAYER_PATH, X_OK) == 0) return PW_METAFILE_PLAYER_PATH;
#endif
  return {};
}

// The program's environment, with the player's C library told to back its
// large blocks by huge pages: the picture is tens of megabytes, and page by
// page its first touch costs more processor time than the playback itself.
std::vector<std::string> PlayerEnvironment() {
  constexpr char kTunables[] = "GLIBC_TUNABLES=";
  constexpr char kHugePages[] = "glibc.malloc.hugetlb=1";
  std::vector<std::string> out;
  bool tuned = false;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    if (entry.rfind(kTunables, 0) == 0) {
      entry += (entry.size() > sizeof kTunables - 1 ? ":" : "") + std::string(kHugePages);
      tuned = true;
    }
    out.push_back(std::move(entry));
  }
  if (!tuned) out.push_back(std::string(kTunables) + kHugePages);
  return out;
}

// The player process: ended and reaped on every way out.
struct Player {
  pid_t pid = -1;
  ~Player() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
};

// Waits until the socket is ready for `events`, at most until `deadline`.
bool Ready(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

bool SendAll(int fd, const void* data, size_t size, std::chrono::steady_clock::time_point deadline) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    if (!Ready(fd, POLLOUT, deadline)) return false;
    const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, void* data, size_t size, std::chrono::steady_clock::time_point deadline) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    if (!Ready(fd, POLLIN, deadline)) return false;
    const ssize_t n = ::recv(fd, p, size, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

const char* PlayerName() { return "pixelwharf-metafile-player"; }

Playback PlayInPlayer(const MetafileRequest& request, const uint8_t* data, uint8_t* rows) {
  const std::string path = FindPlayer();
  if (path.empty()) return Playback::kNoPlayer;

  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return Playback::kNoPlayer;
  pw::UniqueFd ours(ends[0]), theirs(ends[1]);
  // The player's standard input and output are its end of the socket (dup2
  // clears close-on-exec on the copies); its messages go nowhere.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return Playback::kNoPlayer;
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
  Player player;
  std::vector<std::string> environment = PlayerEnvironment();
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const int spawned = ::posix_spawn(&player.pid, path.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    player.pid = -1;
    return Playback::kNoPlayer;
  }
  theirs.close();

  const auto deadline = std::chrono::steady_clock::now() + kAnswerDeadline;
  uint32_t status = 0;
  if (!SendAll(ours.get(), &request, sizeof request, deadline) ||
      !SendAll(ours.get(), data, static_cast<size_t>(request.size), deadline) ||
      !ReceiveAll(ours.get(), &status, sizeof status, deadline) || status != kPlayed ||
      !ReceiveAll(ours.get(), rows, RowBytes(request.width) * request.height, deadline))
    return Playback::kFailed;
  return Playback::kPlayed;
}

}  // namespace metafile
