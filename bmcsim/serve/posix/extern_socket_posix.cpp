#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "bmcsim/serve/extern_session.h"
#include "bmcsim/serve/extern_socket.h"
#include "platform/interrupt.h"

namespace bmcsim {
namespace {

// How long a wait lasts before the loop looks at a stop request a signal left: the signal
// usually ends the wait itself, unless it came just before it.
constexpr int kStopCheckMs = 200;
constexpr size_t kReadChunk = 4096;

bool FillAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address->sun_path)) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// True when a server accepts connections on the socket file.
bool SomeoneListens(const sockaddr_un& address) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool listening = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return listening;
}

}  // namespace

struct ExternSocketServer::Impl {
  Note note;
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  int listener = -1;
  int client = -1;
  int wake[2] = {-1, -1};
  bool peerGone = false;
  std::atomic<bool> stop{false};

  bool Stopping() const { return stop.load() || platform::InterruptRequested(); }

  // Waits for fd (or a wake-up); true when fd has something.
  bool Wait(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    if (poll(fds, 2, kStopCheckMs) <= 0) return false;
    return (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }

  void Accept(ExternSession& session) {
    if (!Wait(listener)) return;
    client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      // Out of descriptors or the like: the listener stays ready, so pause instead of spinning.
      if (errno != EINTR && errno != ECONNABORTED) poll(nullptr, 0, kStopCheckMs);
      return;
    }
    peerGone = false;
    session.Restart();
    note("connected");
  }

  void Disconnect(ExternSession& session) {
    close(client);
    client = -1;
    session.End();
    note("disconnected");
  }

  // Reads what has arrived, without waiting for more, up to the next request (a peer that
  // sends without waiting queues no more requests than a chunk holds, and anything else is
  // dealt with as it arrives); notes a peer that is gone.
  void ReadAvailable(ExternSession& session) {
    uint8_t buffer[kReadChunk];
    while (!peerGone && !session.RequestWaiting() && !Stopping()) {
      ssize_t n = recv(client, buffer, sizeof(buffer), MSG_DONTWAIT);
      if (n > 0) {
        session.Received(buffer, static_cast<size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        peerGone = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        return;
      }
    }
  }

  bool Send(const wire::Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  void Serve(ExternSession& session) {
    if (!Wait(client)) return;
    ReadAvailable(session);
    while (session.RequestWaiting()) {
      wire::Bytes answer = session.HandleNext();
      // QEMU sends a request only once it has given up on the one before. An answer to that
      // one would find nobody waiting for it and would stop QEMU's time-out for the next, so
      // it is dropped when the next has come meanwhile.
      ReadAvailable(session);
      if (answer.empty()) continue;
      if (session.RequestWaiting()) {
        session.NoteOdd("dropped a late answer: QEMU has sent the next request");
        continue;
      }
      if (!peerGone && !Send(answer)) peerGone = true;
    }
    if (peerGone) Disconnect(session);
  }
};

ExternSocketServer::ExternSocketServer(Note note) : impl_(std::make_unique<Impl>()) {
  impl_->note = std::move(note);
}

ExternSocketServer::~ExternSocketServer() {
  Impl& s = *impl_;
  if (s.client >= 0) close(s.client);
  for (int fd : s.wake) {
    if (fd >= 0) close(fd);
  }
  if (s.listener < 0) return;
  close(s.listener);
  struct stat info {};
  if (lstat(s.path.c_str(), &info) == 0 && info.st_dev == s.device && info.st_ino == s.inode) {
    unlink(s.path.c_str());
  }
}

bool ExternSocketServer::Listen(const std::string& path, std::string* error) {
  Impl& s = *impl_;
  sockaddr_un address;
  if (!FillAddress(path, &address)) {
    *error = "socket path '" + path + "' is empty or longer than " +
             std::to_string(sizeof(address.sun_path) - 1) + " bytes";
    return false;
  }
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      *error = path + " exists and is not a socket";
      return false;
    }
    if (SomeoneListens(address)) {
      *error = path + " is in use: a server listens on it";
      return false;
    }
    unlink(path.c_str());
  }
  if (pipe2(s.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  s.listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // Whoever may connect drives the BMC's state, so the socket is the user's alone whatever the
  // umask. Linux ignores a mode set on the socket before bind and a chmod after it leaves a
  // moment open, so the umask is set around bind (serve binds before any other thread runs).
  const mode_t umaskBefore = umask(S_IRWXG | S_IRWXO | S_IXUSR);
  const bool bound =
      s.listener >= 0 && bind(s.listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  const int bindError = errno;
  umask(umaskBefore);
  if (!bound) {
    *error = "cannot create socket " + path + ": " + std::strerror(bindError);
    if (s.listener >= 0) close(s.listener);
    s.listener = -1;
    return false;
  }
  s.path = path;
  if (lstat(path.c_str(), &info) == 0) {
    s.device = info.st_dev;
    s.inode = info.st_ino;
  }
  if (listen(s.listener, 1) != 0) {
    *error = "cannot listen on " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void ExternSocketServer::Run(BmcDirectory& bmc, platform::Clock& clock) {
  Impl& s = *impl_;
  if (s.listener < 0) return;
  ExternSession session(bmc, clock, s.note);
  while (!s.Stopping()) {
    if (s.client < 0) {
      s.Accept(session);
    } else {
      s.Serve(session);
    }
  }
  if (s.client >= 0) s.Disconnect(session);
}

void ExternSocketServer::Stop() {
  impl_->stop.store(true);
  if (impl_->wake[1] >= 0) {
    const uint8_t byte = 1;
    ssize_t ignored = write(impl_->wake[1], &byte, 1);
    (void)ignored;
  }
}

}  // namespace bmcsim
