#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "bmcsim/model/bmc_state.h"

namespace bmcsim {

// The identity and setting options of `init` and `set`; unset options leave a value alone.
struct BmcOptions {
  std::optional<uint8_t> deviceId, deviceRevision, ipmiVersion, additionalSupport;
  std::optional<uint8_t> firmwareRevision1, firmwareRevision2;
  std::optional<uint32_t> manufacturerId;
  std::optional<uint16_t> productId;
  bool noAux = false;
  std::optional<wire::Bytes> aux;
  std::optional<uint32_t> capacity, erasePolls, latencyMs;
  std::optional<wire::Bytes> oemE0;
  // The firmware side and channel 2.
  std::optional<std::optional<uint8_t>> flashChip;  // holds nullopt for "none"
  std::optional<uint8_t> chipSizeCode, chipSectorCode, runningBank, imageSelector;
  std::optional<uint32_t> bankSize, eraseMs;
  std::optional<ChannelAccess> channel2Volatile, channel2NonVolatile;
  // The host's Microsoft IPMI driver.
  std::optional<bool> microsoftDriver;
};

// "XX.YY": the two firmware revision bytes in hex (--fw-rev).
bool ParseFirmwareRevision(const std::string& text, FirmwareRevision* revision, std::string* error);
// Parses args[first..]; fails with a message on an unknown option, a missing or bad value, or
// an option given twice.
bool ParseBmcOptions(const std::vector<std::string>& args, size_t first, BmcOptions* options,
                     std::string* error);
void ApplyBmcOptions(const BmcOptions& options, DeviceIdentity* identity, BmcSettings* settings);
// The firmware and channel options, after ApplyBmcOptions has set the device ID. A running
// bank is also the bank the image selector names, unless that is given too; the downloader
// points at the bank not running. Fails with a message when a bank does not exist on the
// device (`fresh` false: also when --bank-size is given, which only `init` takes).
bool ApplyFirmwareOptions(const BmcOptions& options, bool fresh, BmcState* state, std::string* error);
// The host's side: whether it runs the Microsoft IPMI driver.
void ApplyHostOptions(const BmcOptions& options, BmcState* state);

}  // namespace bmcsim
