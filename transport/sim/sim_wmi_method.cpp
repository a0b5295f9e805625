#include "transport/sim/sim_wmi_method.h"

#include <optional>

#include "bmcsim/store/bmc_directory.h"
#include "protocol/ipmi_codes.h"
#include "transport/wmi_request.h"

namespace transport {
namespace {

// The name the Microsoft driver gives its one instance on a typical machine.
const wchar_t kInstanceName[] = L"ROOT\\SYSTEM\\0001_0";
// WBEM_E_NOT_FOUND: GetObject's answer where WMI has no Microsoft_IPMI class.
constexpr int32_t kWbemNotFound = static_cast<int32_t>(0x80041002u);
// WBEM_E_FAILED: the in-parameter object of a torn-down service.
constexpr int32_t kWbemFailed = static_cast<int32_t>(0x80041001u);
constexpr uint8_t kResponderAddress = 0x20;
constexpr uint8_t kMaxNetFn = 0x3F;
constexpr int32_t kMaxRequestData = 253;  // an 8-bit request length with its two header bytes
constexpr uint32_t kTrailerLead = 1;
constexpr uint32_t kTrailerEnd = 30;
constexpr size_t kDriverValueBytes = 12;

// The request the in-parameters carry, taken apart as the driver does; false when they are not
// laid out as it expects.
bool RequestFrom(const WmiInParameters& in, wire::Bytes* request) {
  if (in.lun != 0 || in.responderAddress != kResponderAddress || in.networkFunction > kMaxNetFn) return false;
  if (in.requestDataSize < 0 || in.requestDataSize > kMaxRequestData || in.dataSize < 0) return false;
  const size_t n = static_cast<size_t>(in.requestDataSize);
  const size_t padding = (4 - n % 4) % 4;
  wire::ByteReader data(in.data);
  wire::Bytes requestData, pad;
  uint32_t lead = 0, end = 0;
  if (static_cast<size_t>(in.dataSize) != in.data.size() || !data.Take(n, &requestData) ||
      !data.Take(padding, &pad) || !data.U32(&lead) || !data.Skip(kDriverValueBytes) || !data.U32(&end) ||
      !data.AtEnd()) {
    return false;
  }
  for (uint8_t b : pad) {
    if (b != 0) return false;
  }
  if (lead != kTrailerLead || end != kTrailerEnd) return false;
  wire::ByteWriter out;
  out.U8(static_cast<uint8_t>(in.networkFunction << 2 | in.lun)).U8(in.command).Append(requestData);
  *request = out.Take();
  return true;
}

class SimulatedWmiMethod : public WmiIpmiMethod {
 public:
  SimulatedWmiMethod(const std::string& stateDir, platform::Clock& clock) : bmc_(stateDir), clock_(clock) {}

  bool HostHasDriver() {
    bmcsim::BmcState state;
    std::string error;
    return bmc_.IsInitialized() && bmc_.Read(&state, &error) && state.microsoftDriver;
  }

  InstanceLookup FindInstanceName(uint32_t, std::wstring* name) override {
    if (!HostHasDriver()) return InstanceLookup::kMissing;
    *name = kInstanceName;
    return InstanceLookup::kFound;
  }

  PrepareResult Prepare(const WmiInParameters& in) override {
    if (tornDown_) return {PrepareOutcome::kMethodUnavailable, kWbemFailed};
    prepared_ = in;
    return {};
  }

  bool Call(const std::wstring& instancePath, WmiAnswer* answer) override {
    if (tornDown_) return false;
    wire::Bytes request;
    if (!prepared_ || instancePath != IpmiInstancePath(kInstanceName) || !RequestFrom(*prepared_, &request))
      return TearDown();
    const bmcsim::ExchangeResult result =
        bmc_.Exchange(request.data(), request.size(), clock_, bmcsim::ExchangePath::kMicrosoftDriver);
    switch (result.outcome) {
      case bmcsim::ExchangeOutcome::kMethodCallFailed:
        return TearDown();
      case bmcsim::ExchangeOutcome::kUnreachable:
      case bmcsim::ExchangeOutcome::kTransferFailed:
        // The driver, not the program, waited for the BMC in vain.
        answer->completionCode = ipmi::kCcUnspecified;
        answer->responseData = wire::Bytes{ipmi::kCcUnspecified};
        return true;
      case bmcsim::ExchangeOutcome::kResponse:
        break;
    }
    // ResponseData starts at the completion code; an answer cut before it has none.
    wire::ByteReader response(result.response);
    const wire::Bytes elements = response.Skip(2) ? response.Rest() : wire::Bytes{};
    answer->completionCode = elements.empty() ? std::nullopt : std::optional<uint8_t>(elements[0]);
    answer->responseData = elements;
    return true;
  }

  void EndRequest() override { prepared_.reset(); }

  bool Reopen() override {
    tornDown_ = !HostHasDriver();
    return !tornDown_;
  }

 private:
  bool TearDown() {
    tornDown_ = true;
    prepared_.reset();
    return false;
  }

  bmcsim::BmcDirectory bmc_;
  platform::Clock& clock_;
  std::optional<WmiInParameters> prepared_;
  bool tornDown_ = false;
};

}  // namespace

std::unique_ptr<WmiIpmiMethod> MakeSimulatedWmiMethod(const std::string& stateDir, platform::Clock& clock) {
  return std::make_unique<SimulatedWmiMethod>(stateDir, clock);
}

std::function<WmiPathOpening(const WmiPathSetup&)> MakeSimulatedWmiOpener(const std::string& stateDir,
                                                                          platform::Clock& clock) {
  return [stateDir, &clock](const WmiPathSetup& setup) {
    auto method = std::make_unique<SimulatedWmiMethod>(stateDir, clock);
    if (!method->HostHasDriver()) {
      // A host without the driver has no Microsoft_IPMI class: its GetObject fails.
      WmiPathOpening opening;
      opening.failedStep = WmiOpenStep::kClassObject;
      opening.hresult = kWbemNotFound;
      return opening;
    }
    return StartWmiPath(std::move(method), setup);
  };
}

}  // namespace transport
