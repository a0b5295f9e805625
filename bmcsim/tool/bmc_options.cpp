#include "bmcsim/tool/bmc_options.h"

#include <cstring>
#include <set>

#include "bmcsim/faults/value_text.h"
#include "bmcsim/model/flash_layout.h"
#include "wire/hex_text.h"

namespace bmcsim {
namespace {

constexpr uint64_t kMaxErasePolls = 1000000;
constexpr uint64_t kMaxLatencyMs = 3600000;
constexpr uint64_t kMaxCapacity = 0x7FFFFFFF;
constexpr uint64_t kMaxChipIndex = 4;
constexpr uint64_t kMaxBankSize = 0x40000000;  // two banks stay inside 32-bit addresses
constexpr uint32_t kBankSizeUnit = 0x10000;
constexpr uint64_t kMaxEraseMs = 3600000;
constexpr uint64_t kMaxAccess = 0x3F;
constexpr uint64_t kMaxPrivilege = 0x0F;

template <typename T>
bool Number(const std::string& option, const std::string& text, uint64_t max, std::optional<T>* out,
            std::string* error) {
  uint64_t value = 0;
  if (!ParseNumber(text, max, &value)) {
    *error = option + " needs a number from 0 to " + std::to_string(max) + ", not '" + text + "'";
    return false;
  }
  *out = static_cast<T>(value);
  return true;
}

bool HexField(const std::string& option, const std::string& text, size_t size,
              std::optional<wire::Bytes>* out, std::string* error) {
  wire::Bytes bytes;
  if (!wire::ParseHexBytes(text, &bytes) || bytes.size() != size) {
    *error = option + " needs " + std::to_string(size) + " bytes in hex, not '" + text + "'";
    return false;
  }
  *out = std::move(bytes);
  return true;
}

bool FirmwareRevisionOption(const std::string& text, BmcOptions* options, std::string* error) {
  FirmwareRevision revision{};
  if (!ParseFirmwareRevision(text, &revision, error)) return false;
  options->firmwareRevision1 = revision[0];
  options->firmwareRevision2 = revision[1];
  return true;
}

bool FlashChipOption(const std::string& text, BmcOptions* options, std::string* error) {
  if (text == "none") {
    options->flashChip = std::optional<uint8_t>();
    return true;
  }
  std::optional<uint8_t> index;
  if (!Number("--flash-chip", text, kMaxChipIndex, &index, error)) {
    *error += " or none";
    return false;
  }
  options->flashChip = index;
  return true;
}

bool BankOption(const std::string& option, const std::string& text, std::optional<uint8_t>* bank,
                std::string* error) {
  if (text != "1" && text != "2") {
    *error = option + " needs 1 or 2, not '" + text + "'";
    return false;
  }
  *bank = static_cast<uint8_t>(text[0] - '0');
  return true;
}

bool BankSizeOption(const std::string& text, std::optional<uint32_t>* size, std::string* error) {
  if (!Number("--bank-size", text, kMaxBankSize, size, error)) return false;
  if (**size == 0 || **size % kBankSizeUnit != 0) {
    *error = "--bank-size needs a multiple of 0x10000, not '" + text + "'";
    return false;
  }
  return true;
}

// "ACCESS,PRIVILEGE": the two bytes Get Channel Access answers.
bool ChannelOption(const std::string& option, const std::string& text, std::optional<ChannelAccess>* setting,
                   std::string* error) {
  size_t comma = text.find(',');
  uint64_t access = 0;
  uint64_t privilege = 0;
  if (comma == std::string::npos || !ParseNumber(text.substr(0, comma), kMaxAccess, &access) ||
      !ParseNumber(text.substr(comma + 1), kMaxPrivilege, &privilege)) {
    *error = option + " needs ACCESS,PRIVILEGE (access 0..0x3f, privilege 0..0x0f), not '" + text + "'";
    return false;
  }
  *setting = ChannelAccess{static_cast<uint8_t>(access), static_cast<uint8_t>(privilege)};
  return true;
}

}  // namespace

bool ParseFirmwareRevision(const std::string& text, FirmwareRevision* revision, std::string* error) {
  size_t dot = text.find('.');
  wire::Bytes major;
  wire::Bytes minor;
  auto part = [](const std::string& digits, wire::Bytes* byte) {
    return !digits.empty() && digits.size() <= 2 &&
           wire::ParseHexBytes(std::string(2 - digits.size(), '0') + digits, byte);
  };
  if (dot == std::string::npos || !part(text.substr(0, dot), &major) || !part(text.substr(dot + 1), &minor)) {
    *error = "--fw-rev needs XX.YY in hex, not '" + text + "'";
    return false;
  }
  *revision = FirmwareRevision{major[0], minor[0]};
  return true;
}

bool ParseBmcOptions(const std::vector<std::string>& args, size_t first, BmcOptions* options,
                     std::string* error) {
  BmcOptions o;
  std::set<std::string> seen;
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (!seen.insert(option).second) {
      *error = option + " given twice";
      return false;
    }
    if (option == "--no-aux") {
      o.noAux = true;
      continue;
    }
    if (option == "--wmi") {
      // On unless "off" follows; "on" may follow too.
      const bool valued = i + 1 < args.size() && (args[i + 1] == "on" || args[i + 1] == "off");
      o.microsoftDriver = !valued || args[++i] == "on";
      continue;
    }
    if (option.compare(0, 2, "--") != 0) {
      *error = "unexpected argument '" + option + "'";
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = option + " needs a value";
      return false;
    }
    const std::string& value = args[++i];
    bool ok = false;
    if (option == "--device-id") {
      ok = Number(option, value, 0xFF, &o.deviceId, error);
    } else if (option == "--device-rev") {
      ok = Number(option, value, 0xFF, &o.deviceRevision, error);
    } else if (option == "--fw-rev") {
      ok = FirmwareRevisionOption(value, &o, error);
    } else if (option == "--ipmi-version") {
      ok = Number(option, value, 0xFF, &o.ipmiVersion, error);
    } else if (option == "--support") {
      ok = Number(option, value, 0xFF, &o.additionalSupport, error);
    } else if (option == "--manufacturer") {
      ok = Number(option, value, 0xFFFFFF, &o.manufacturerId, error);
    } else if (option == "--product-id") {
      ok = Number(option, value, 0xFFFF, &o.productId, error);
    } else if (option == "--aux") {
      ok = HexField(option, value, 4, &o.aux, error);
    } else if (option == "--capacity") {
      ok = Number(option, value, kMaxCapacity, &o.capacity, error);
    } else if (option == "--erase-polls") {
      ok = Number(option, value, kMaxErasePolls, &o.erasePolls, error);
    } else if (option == "--latency") {
      ok = Number(option, value, kMaxLatencyMs, &o.latencyMs, error);
    } else if (option == "--oem-e0") {
      ok = HexField(option, value, 3, &o.oemE0, error);
    } else if (option == "--flash-chip") {
      ok = FlashChipOption(value, &o, error);
    } else if (option == "--chip-size-code") {
      ok = Number(option, value, 0xFF, &o.chipSizeCode, error);
    } else if (option == "--chip-sector-code") {
      ok = Number(option, value, 0xFF, &o.chipSectorCode, error);
    } else if (option == "--running-bank") {
      ok = BankOption(option, value, &o.runningBank, error);
    } else if (option == "--image-selector") {
      ok = BankOption(option, value, &o.imageSelector, error);
    } else if (option == "--bank-size") {
      ok = BankSizeOption(value, &o.bankSize, error);
    } else if (option == "--erase-ms") {
      ok = Number(option, value, kMaxEraseMs, &o.eraseMs, error);
    } else if (option == "--channel2") {
      ok = ChannelOption(option, value, &o.channel2Volatile, error);
      o.channel2NonVolatile = o.channel2Volatile;
    } else if (option == "--channel2-volatile") {
      ok = ChannelOption(option, value, &o.channel2Volatile, error);
    } else if (option == "--channel2-nonvolatile") {
      ok = ChannelOption(option, value, &o.channel2NonVolatile, error);
    } else {
      *error = "unknown option " + option;
    }
    if (!ok) return false;
  }
  if (o.noAux && o.aux) {
    *error = "--no-aux and --aux exclude each other";
    return false;
  }
  if (seen.count("--channel2") &&
      (seen.count("--channel2-volatile") || seen.count("--channel2-nonvolatile"))) {
    *error = "--channel2 sets both settings; it excludes --channel2-volatile and --channel2-nonvolatile";
    return false;
  }
  *options = std::move(o);
  return true;
}

void ApplyBmcOptions(const BmcOptions& o, DeviceIdentity* id, BmcSettings* settings) {
  if (o.deviceId) id->deviceId = *o.deviceId;
  if (o.deviceRevision) id->deviceRevision = *o.deviceRevision;
  if (o.firmwareRevision1) id->firmwareRevision1 = *o.firmwareRevision1;
  if (o.firmwareRevision2) id->firmwareRevision2 = *o.firmwareRevision2;
  if (o.ipmiVersion) id->ipmiVersion = *o.ipmiVersion;
  if (o.additionalSupport) id->additionalSupport = *o.additionalSupport;
  if (o.manufacturerId) id->manufacturerId = *o.manufacturerId;
  if (o.productId) id->productId = *o.productId;
  if (o.noAux) id->auxPresent = false;
  if (o.aux) {
    id->auxPresent = true;
    std::memcpy(id->auxRevision, o.aux->data(), 4);
  }
  if (o.capacity) settings->capacity = *o.capacity;
  if (o.erasePolls) settings->erasePolls = *o.erasePolls;
  if (o.latencyMs) settings->latencyMs = *o.latencyMs;
  if (o.oemE0) std::memcpy(settings->oemE0, o.oemE0->data(), 3);
}

void ApplyHostOptions(const BmcOptions& o, BmcState* state) {
  if (o.microsoftDriver) state->microsoftDriver = *o.microsoftDriver;
}

bool ApplyFirmwareOptions(const BmcOptions& o, bool fresh, BmcState* state, std::string* error) {
  FirmwareState& firmware = state->firmware;
  if (o.bankSize) {
    if (!fresh) {
      *error = "--bank-size can only be given to init";
      return false;
    }
    firmware.bankSize = *o.bankSize;
  }
  if (o.flashChip) firmware.chip.index = *o.flashChip;
  if (o.chipSizeCode) firmware.chip.sizeCode = *o.chipSizeCode;
  if (o.chipSectorCode) firmware.chip.sectorCode = *o.chipSectorCode;
  if (o.eraseMs) firmware.eraseMs = *o.eraseMs;
  if (o.channel2Volatile) state->channel2.active = *o.channel2Volatile;
  if (o.channel2NonVolatile) state->channel2.nonVolatile = *o.channel2NonVolatile;
  if (o.runningBank) firmware.runningBank = firmware.imageSelector = *o.runningBank;
  if (o.imageSelector) firmware.imageSelector = *o.imageSelector;
  if (BankCount(*state) == 1 && (firmware.runningBank != 1 || firmware.imageSelector != 1)) {
    *error =
        "bank 2 needs a dual-bank device ID (0x38, 0x39 or 0x3a): give --running-bank 1 --image-selector 1";
    return false;
  }
  if (fresh || o.runningBank || o.deviceId) firmware.downloaderBank = StandbyBank(*state);
  return true;
}

}  // namespace bmcsim
