#include "imagelib/MetafilePlayback.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// Where an installation puts the player, from the program's folder (the
// build says; this is its layout under a prefix).
#ifndef PW_METAFILE_PLAYER_FROM_PROGRAM
#define PW_METAFILE_PLAYER_FROM_PROGRAM "../libexec/pixelwharf"
#endif

// How long a wait for the player lasts before the cancel request is looked
// at again.
constexpr auto kCancelSlice = std::chrono::milliseconds(20);

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

// The end of a conversation with the player: its deadline, and the
// caller's cancel request, which ends it early.
struct Conversation {
  std::chrono::steady_clock::time_point deadline;
  const std::function<bool()>& cancelled;
  bool wasCancelled = false;
};

// Waits until the socket is ready for `events`, at most until the deadline
// or a cancel request.
bool Ready(int fd, short events, Conversation& talk) {
  for (;;) {
    if (talk.cancelled && talk.cancelled()) {
      talk.wasCancelled = true;
      return false;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(talk.deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min(left, kCancelSlice).count()));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) continue;
    return n > 0;
  }
}

bool SendAll(int fd, const void* data, size_t size, Conversation& talk) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    if (!Ready(fd, POLLOUT, talk)) return false;
    const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, void* data, size_t size, Conversation& talk) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    if (!Ready(fd, POLLIN, talk)) return false;
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

std::string PlayerPath() {
  const std::string program = pw::ExecutablePath();
  if (!program.empty()) {
    const std::string folder = pw::FolderOf(program);
    for (const std::string& candidate : {folder + "/" + PlayerName(),
                                         folder + "/" PW_METAFILE_PLAYER_FROM_PROGRAM "/" + PlayerName()}) {
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  }
#ifdef PW_METAFILE_PLAYER_PATH
  if (::access(PW_METAFILE_PLAYER_PATH, X_OK) == 0) return PW_METAFILE_PLAYER_PATH;
#endif
  return {};
}

Playback PlayInPlayer(const MetafileRequest& request, const uint8_t* data, uint8_t* rows,
                      const std::function<bool()>& cancelled) {
  const std::string path = PlayerPath();
  if (path.empty()) return Playback::kNoPlayer;

  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return Playback::kNoPlayer;
  pw::UniqueFd ours(ends[0]), theirs(ends[1]);
  // The player's standard input and output are its end of the socket (dup2
  // clears close-on-exec on the copies); its messages go nowhere; every
  // other descriptor the program holds (files of other batch workers,
  // sockets, descriptors opened without close-on-exec) is closed in it.
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return Playback::kNoPlayer;
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
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

  Conversation talk{std::chrono::steady_clock::now() + kAnswerDeadline, cancelled};
  uint32_t status = 0;
  if (!SendAll(ours.get(), &request, sizeof request, talk) ||
      !SendAll(ours.get(), data, static_cast<size_t>(request.size), talk) ||
      !ReceiveAll(ours.get(), &status, sizeof status, talk) || status != kPlayed ||
      !ReceiveAll(ours.get(), rows, RowBytes(request.width) * request.height, talk))
    return talk.wasCancelled ? Playback::kCancelled : Playback::kFailed;
  return Playback::kPlayed;
}

}  // namespace metafile
