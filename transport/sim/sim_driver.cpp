#include "transport/sim/sim_driver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "bmcsim/store/bmc_directory.h"

namespace transport {
namespace {

class SimulatedDriver : public IpmiDriver {
 public:
  SimulatedDriver(const std::string& stateDir, platform::Clock& clock) : bmc_(stateDir), clock_(clock) {}

  ExchangeStatus Exchange(const IpmiRequest& request, IpmiResponse* response) override {
    bmcsim::ExchangeResult result = bmc_.Exchange(request.bytes, request.length, clock_);
    switch (result.outcome) {
      case bmcsim::ExchangeOutcome::kUnreachable:
        return kDriverUnreachable;
      case bmcsim::ExchangeOutcome::kTransferFailed:
      case bmcsim::ExchangeOutcome::kMethodCallFailed:  // the Microsoft driver's only
        response->length = 0;
        return kTransferFailed;
      case bmcsim::ExchangeOutcome::kResponse:
        break;
    }
    // The vendor driver's output buffer holds 127 bytes: a longer answer is cut there.
    size_t length = std::min(result.response.size(), kDriverResponseCapacity);
    if (length) std::memcpy(response->bytes, result.response.data(), length);
    response->length = static_cast<uint8_t>(length);
    return kExchangeOk;
  }

 private:
  bmcsim::BmcDirectory bmc_;
  platform::Clock& clock_;
};

}  // namespace

std::unique_ptr<IpmiDriver> MakeSimulatedDriver(const std::string& stateDir, platform::Clock& clock) {
  return std::make_unique<SimulatedDriver>(stateDir, clock);
}

std::string SimulatedBmcDirectory() {
  const char* dir = std::getenv("BMCSIM_DIR");
  return dir && *dir ? dir : "bmcsim";
}

}  // namespace transport
