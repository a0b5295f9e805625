#include "bmcsim/serve/serve_command.h"

#include "bmcsim/serve/extern_socket.h"
#include "bmcsim/store/bmc_directory.h"
#include "platform/interrupt.h"

namespace bmcsim {

int RunServe(const std::vector<std::string>& args, platform::Clock& clock, const ServeOutput& out,
             const ServeOutput& err) {
  if (args.size() != 4 || args[2] != "--socket") {
    err("bmcsim: use: bmcsim serve DIR --socket PATH");
    return 1;
  }
  BmcDirectory bmc(args[1]);
  if (!bmc.IsInitialized()) {
    err("bmcsim: " + args[1] + " holds no simulated BMC (bmcsim init)");
    return 1;
  }
  platform::InstallInterruptHandlers();
  ExternSocketServer server([&](const std::string& line) { err("bmcsim serve: " + line); });
  std::string error;
  if (!server.Listen(args[3], &error)) {
    err("bmcsim: " + error);
    return 1;
  }
  out("listening on " + args[3]);
  server.Run(bmc, clock);
  return 0;
}

}  // namespace bmcsim
