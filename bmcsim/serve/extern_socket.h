#pragma once
#include <functional>
#include <memory>
#include <string>

#include "bmcsim/store/bmc_directory.h"
#include "platform/clock.h"

namespace bmcsim {

// The listening end of QEMU's external BMC chardev (`-chardev socket,path=PATH,reconnect=1`):
// a UNIX stream socket serving one connection at a time, a new one after a disconnect. POSIX
// only; elsewhere Listen refuses.
class ExternSocketServer {
 public:
  // Connections are told here a line each, dropped frames within a bound (ExternSession).
  using Note = std::function<void(const std::string&)>;
  explicit ExternSocketServer(Note note);
  // Closes everything and removes the socket file if it is still the one Listen created.
  ~ExternSocketServer();
  ExternSocketServer(const ExternSocketServer&) = delete;
  ExternSocketServer& operator=(const ExternSocketServer&) = delete;

  // Refuses a path that exists and is not a socket, or a socket some server still listens
  // on; a stale socket file is replaced. The socket is made 0600: the process umask changes
  // for a moment, so no other thread should create files meanwhile.
  bool Listen(const std::string& path, std::string* error);
  // Serves until Stop or a stop request (platform::InterruptRequested). Requests are handled
  // one after another: QEMU sends the next only after the answer or its time-out.
  void Run(BmcDirectory& bmc, platform::Clock& clock);
  // From another thread: Run returns soon after (once a request under way is answered).
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bmcsim
