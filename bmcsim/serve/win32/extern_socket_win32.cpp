#include "bmcsim/serve/extern_socket.h"

namespace bmcsim {

struct ExternSocketServer::Impl {};

ExternSocketServer::ExternSocketServer(Note) {}

ExternSocketServer::~ExternSocketServer() = default;

bool ExternSocketServer::Listen(const std::string&, std::string* error) {
  *error = "serve needs a UNIX socket for QEMU: it runs on Linux only";
  return false;
}

void ExternSocketServer::Run(BmcDirectory&, platform::Clock&) {}

void ExternSocketServer::Stop() {}

}  // namespace bmcsim
