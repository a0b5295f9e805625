#pragma once
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "transport/ipmi_driver.h"
#include "transport/log_exchange.h"
#include "transport/wmi_method.h"
#include "transport/wmi_retry_policy.h"

namespace transport {

// What the WMI path tells the program beyond the response and its log lines. Called during
// the request, after the policy's log line for the same event.
class WmiPathEvents {
 public:
  virtual ~WmiPathEvents() = default;
  // The code-keyed policy ended a request with a non-zero code after using up its 0xFF
  // re-sends (never when they were set to 0). The response still comes back with that code.
  virtual void RetriesUsedUpUnderLoad(uint8_t completionCode) = 0;
  // RequestResponseEx's in-parameter object could not be had; the request fails with status 9.
  virtual void MethodUnavailable(int32_t hresult) = 0;
};

// What a program hands to the WMI path.
struct WmiPathSetup {
  WmiRetryPolicy policy;
  LogSink log;                       // the policy's lines; none: dropped
  WmiPathEvents* events = nullptr;   // none: dropped
  platform::Clock* clock = nullptr;  // every retry wait sleeps on it; none: the system clock
};

enum class WmiPresence {
  kNotPresent,          // use the vendor path
  kPresent,             // use the driver
  kInstanceUnresolved,  // the driver is there but its instance is not: the run cannot go on
};

// The step at which the Microsoft IPMI driver was found missing or unusable.
enum class WmiOpenStep {
  kNone,
  kNoWmiOnThisPlatform,
  kSecurity,
  kLocator,
  kNamespace,
  kClassObject,
  kInstanceMissing,
  kInstanceTimedOut,
};

struct WmiPathOpening {
  WmiPresence presence = WmiPresence::kNotPresent;
  std::unique_ptr<IpmiDriver> driver;  // with kPresent
  WmiOpenStep failedStep = WmiOpenStep::kNone;
  int32_t hresult = 0;  // of the failed step, where it has one
};

// How long the instance query may take before the instance counts as unresolved.
constexpr uint32_t kInstanceLookupTimeoutMs = 30000;

// Resolves the instance over an opened method and puts the policy and marshalling around it.
// The driver's Exchange sends one request under the setup's policy; after a failed call every
// request fails with status 9 until ReopenAfterTeardown opens the service again.
WmiPathOpening StartWmiPath(std::unique_ptr<WmiIpmiMethod> method, const WmiPathSetup& setup);

// The Microsoft IPMI driver over COM (Windows); elsewhere always not present. To be called on
// the thread that sends every request, before the first one; the driver keeps COM initialised
// on that thread until it is destroyed, and nothing of COM is left when it is not present.
WmiPathOpening OpenMicrosoftIpmiDriver(const WmiPathSetup& setup);

}  // namespace transport
