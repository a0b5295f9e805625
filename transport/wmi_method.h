#pragma once
#include <cstdint>
#include <string>

#include "transport/wmi_request.h"

namespace transport {

enum class InstanceLookup {
  kFound,
  kMissing,   // the query failed, yielded no instance, or the instance has no InstanceName
  kTimedOut,  // no instance within the time allowed
};

enum class PrepareOutcome {
  kPrepared,
  kMethodUnavailable,  // the method's in-parameter object could not be had
  kParameterRefused,   // a value could not be put
};

struct PrepareResult {
  PrepareOutcome outcome = PrepareOutcome::kPrepared;
  int32_t hresult = 0;
};

// The Microsoft IPMI driver as WMI offers it, over an opened service: COM on Windows, a
// simulated provider in the sim flavour, fakes in tests. The policy and marshalling around it
// are plain code.
class WmiIpmiMethod {
 public:
  virtual ~WmiIpmiMethod() = default;
  // InstanceName of the first Microsoft_IPMI instance, waiting at most timeoutMs for it.
  virtual InstanceLookup FindInstanceName(uint32_t timeoutMs, std::wstring* name) = 0;
  // A fresh in-parameter object of RequestResponseEx holding these values.
  virtual PrepareResult Prepare(const WmiInParameters& in) = 0;
  // Calls RequestResponseEx on the instance with the prepared in-parameters and reads its
  // out-parameters. False when the call failed: the service is then torn down, and Prepare and
  // Call fail without touching released objects until Reopen succeeds.
  virtual bool Call(const std::wstring& instancePath, WmiAnswer* answer) = 0;
  // Releases the request's in-parameter object, if any.
  virtual void EndRequest() = 0;
  // Opens the service again after a teardown.
  virtual bool Reopen() = 0;
};

}  // namespace transport
