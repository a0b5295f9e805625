#include "bmcsim/tool/bmcsim_tool.h"

#include <algorithm>
#include <functional>
#include <map>

#include "bmcsim/faults/value_text.h"
#include "bmcsim/model/flash_layout.h"
#include "bmcsim/store/bmc_directory.h"
#include "bmcsim/store/state_json.h"
#include "bmcsim/tool/bmc_options.h"
#include "platform/files.h"
#include "wire/hex_text.h"

namespace bmcsim {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitTransportFailure = 3;
constexpr uint64_t kMaxLatencyMs = 3600000;
constexpr uint64_t kMaxRepeat = 1000000;
constexpr uint64_t kMaxBootMs = 3600000;

// One verb's view of the command line: args[0] is the verb, args[1] the directory.
struct Invocation {
  const std::vector<std::string>& args;
  platform::Clock& clock;
  BmcDirectory& bmc;
  std::string* out;
  std::string* error;

  bool Fail(std::string message) {
    *error = std::move(message);
    return false;
  }
  bool ArgCount(size_t min, size_t max) {
    if (args.size() >= min && args.size() <= max) return true;
    return Fail("wrong number of arguments for " + args[0] + " (see bmcsim --help)");
  }
};

bool CheckCapacity(const BmcState& state, uint32_t capacity, std::string* error) {
  size_t used = std::max(RecordBytes(state.active.records), RecordBytes(state.spared.repository.records));
  if (used <= capacity) return true;
  *error = "capacity " + std::to_string(capacity) + " is below the " + std::to_string(used) + " bytes in use";
  return false;
}

bool Init(Invocation& in) {
  BmcOptions options;
  if (!ParseBmcOptions(in.args, 2, &options, in.error)) return false;
  DeviceIdentity identity;
  BmcSettings settings;
  ApplyBmcOptions(options, &identity, &settings);
  BmcState state = FreshState(identity, settings, in.clock);
  if (!ApplyFirmwareOptions(options, true, &state, in.error)) return false;
  ApplyHostOptions(options, &state);
  return in.bmc.Initialize(state, in.error);
}

bool Set(Invocation& in) {
  BmcOptions options;
  if (!ParseBmcOptions(in.args, 2, &options, in.error)) return false;
  return in.bmc.Modify(
      [&](BmcState& state, std::string* error) {
        ApplyBmcOptions(options, &state.identity, &state.settings);
        ApplyHostOptions(options, &state);
        return CheckCapacity(state, state.settings.capacity, error) &&
               ApplyFirmwareOptions(options, false, &state, error);
      },
      in.error);
}

bool Reset(Invocation& in) {
  ResetOptions reset;
  reset.nowMs = in.clock.MonotonicMs();
  bool bootGiven = false;
  for (size_t i = 2; i < in.args.size(); i += 2) {
    const std::string& option = in.args[i];
    bool known = option == "--fw-rev" || option == "--boot-ms";
    bool again = option == "--fw-rev" ? reset.imageRevision.has_value() : bootGiven;
    if (!known || again || i + 1 >= in.args.size())
      return in.Fail("use: bmcsim reset DIR [--fw-rev XX.YY] [--boot-ms N]");
    const std::string& value = in.args[i + 1];
    if (option == "--fw-rev") {
      FirmwareRevision revision{};
      if (!ParseFirmwareRevision(value, &revision, in.error)) return false;
      reset.imageRevision = revision;
    } else {
      uint64_t ms = 0;
      if (!ParseNumber(value, kMaxBootMs, &ms)) return in.Fail("--boot-ms needs milliseconds up to 3600000");
      reset.bootMs = static_cast<uint32_t>(ms);
      bootGiven = true;
    }
  }
  return in.bmc.Modify(
      [&](BmcState& state, std::string*) {
        ResetBmc(state, reset);
        return true;
      },
      in.error);
}

// The options of export-flash and load-flash: --bank 1|2, and --length N for export-flash.
struct FlashFileOptions {
  uint8_t bank = 1;
  std::optional<uint64_t> length;
};

bool ParseFlashFileOptions(Invocation& in, bool allowLength, FlashFileOptions* options) {
  for (size_t i = 3; i < in.args.size(); i += 2) {
    const std::string& option = in.args[i];
    if (i + 1 >= in.args.size()) return in.Fail(option + " needs a value");
    const std::string& value = in.args[i + 1];
    uint64_t n = 0;
    if (option == "--bank") {
      if (value != "1" && value != "2") return in.Fail("--bank needs 1 or 2, not '" + value + "'");
      options->bank = static_cast<uint8_t>(value[0] - '0');
    } else if (option == "--length" && allowLength) {
      if (!ParseNumber(value, UINT32_MAX, &n))
        return in.Fail("--length needs a byte count, not '" + value + "'");
      options->length = n;
    } else {
      return in.Fail("unknown option " + option);
    }
  }
  return true;
}

bool CheckBank(const BmcState& state, uint8_t bank, std::string* error) {
  if (bank <= BankCount(state)) return true;
  *error = "device ID " + HexByte(state.identity.deviceId) + " has a single bank";
  return false;
}

bool ExportFlash(Invocation& in) {
  FlashFileOptions options;
  if (!in.ArgCount(3, 7) || !ParseFlashFileOptions(in, true, &options)) return false;
  BmcState state;
  if (!in.bmc.Read(&state, in.error) || !CheckBank(state, options.bank, in.error)) return false;
  uint64_t length = options.length.value_or(state.firmware.bankSize);
  if (length > state.firmware.bankSize) {
    return in.Fail("--length " + std::to_string(length) + " is beyond the bank size " +
                   std::to_string(state.firmware.bankSize));
  }
  wire::Bytes bytes = state.firmware.banks[options.bank - 1].Read(0, static_cast<size_t>(length));
  std::string_view content(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!platform::WriteFileAtomically(in.args[2], content)) return in.Fail("cannot write " + in.args[2]);
  return true;
}

bool LoadFlash(Invocation& in) {
  FlashFileOptions options;
  if (!in.ArgCount(3, 5) || !ParseFlashFileOptions(in, false, &options)) return false;
  std::string data;
  if (!platform::ReadWholeFile(in.args[2], &data)) return in.Fail("cannot read " + in.args[2]);
  return in.bmc.Modify(
      [&](BmcState& state, std::string* error) {
        if (!CheckBank(state, options.bank, error)) return false;
        if (data.size() > state.firmware.bankSize) {
          *error = in.args[2] + " holds " + std::to_string(data.size()) + " bytes, the bank " +
                   std::to_string(state.firmware.bankSize);
          return false;
        }
        FlashBank& bank = state.firmware.banks[options.bank - 1];
        bank.EraseAll();
        bank.Store(0, reinterpret_cast<const uint8_t*>(data.data()), data.size());
        return true;
      },
      in.error);
}

bool LoadSdr(Invocation& in) {
  if (!in.ArgCount(3, 3)) return false;
  std::string data;
  if (!platform::ReadWholeFile(in.args[2], &data)) return in.Fail("cannot read " + in.args[2]);
  std::vector<SdrRecord> records;
  std::string detail;
  if (!SplitRecords(data, &records, &detail) || !CheckRecordIds(records, &detail)) {
    return in.Fail(in.args[2] + ": " + detail);
  }
  return in.bmc.Modify(
      [&](BmcState& state, std::string* error) {
        size_t bytes = RecordBytes(records);
        if (bytes > state.settings.capacity) {
          *error = in.args[2] + " holds " + std::to_string(bytes) + " bytes of records, the capacity is " +
                   std::to_string(state.settings.capacity);
          return false;
        }
        state.active.records = records;
        state.active.eraseStamp = NextStamp(state, in.clock);
        state.active.additionStamp = NextStamp(state, in.clock);
        state.active.reservation = 0;
        return true;
      },
      in.error);
}

bool ExportSdr(Invocation& in) {
  if (!in.ArgCount(3, 4)) return false;
  bool spared = in.args.size() == 4;
  if (spared && in.args[3] != "--spared") return in.Fail("unknown option " + in.args[3]);
  BmcState state;
  if (!in.bmc.Read(&state, in.error)) return false;
  if (spared && !state.spared.lockHeld)
    return in.Fail("the update lock is not held: there is no spared repository");
  const SdrRepository& repository = spared ? state.spared.repository : state.active;
  if (!platform::WriteFileAtomically(in.args[2], JoinRecords(repository.records))) {
    return in.Fail("cannot write " + in.args[2]);
  }
  return true;
}

bool Show(Invocation& in) {
  if (!in.ArgCount(2, 2)) return false;
  BmcState state;
  if (!in.bmc.Read(&state, in.error)) return false;
  *in.out += StateToJson(state);
  return true;
}

bool Fault(Invocation& in) {
  if (in.args.size() >= 4 && in.args[2] == "add") {
    std::string text;
    for (size_t i = 3; i < in.args.size(); ++i) text += (i > 3 ? " " : "") + in.args[i];
    FaultRule rule;
    std::string detail;
    if (!ParseFaultRule(text, &rule, &detail)) return in.Fail("fault rule: " + detail);
    return in.bmc.Modify(
        [&](BmcState& state, std::string*) {
          state.faults.push_back(rule);
          return true;
        },
        in.error);
  }
  if (in.args.size() == 3 && in.args[2] == "clear") {
    return in.bmc.Modify(
        [](BmcState& state, std::string*) {
          state.faults.clear();
          return true;
        },
        in.error);
  }
  return in.Fail("use: bmcsim fault DIR add RULE | bmcsim fault DIR clear");
}

bool Log(Invocation& in) {
  if (!in.ArgCount(2, 3)) return false;
  bool clear = in.args.size() == 3;
  if (clear && in.args[2] != "--clear") return in.Fail("unknown option " + in.args[2]);
  std::string text;
  if (!in.bmc.ReadLog(&text, clear, in.error)) return false;
  *in.out += text;
  return true;
}

bool Latency(Invocation& in) {
  if (!in.ArgCount(3, 3)) return false;
  uint64_t ms = 0;
  if (!ParseNumber(in.args[2], kMaxLatencyMs, &ms))
    return in.Fail("latency needs milliseconds up to 3600000");
  return in.bmc.Modify(
      [&](BmcState& state, std::string*) {
        state.settings.latencyMs = static_cast<uint32_t>(ms);
        return true;
      },
      in.error);
}

// Sends the request; *failed is set when any exchange met a transport failure.
bool Send(Invocation& in, bool* failed) {
  std::string hex;
  uint64_t repeat = 1;
  for (size_t i = 2; i < in.args.size(); ++i) {
    if (in.args[i] == "--repeat") {
      if (i + 1 >= in.args.size() || !ParseNumber(in.args[i + 1], kMaxRepeat, &repeat) || repeat == 0) {
        return in.Fail("--repeat needs a count from 1 to 1000000");
      }
      ++i;
    } else {
      hex += in.args[i];
    }
  }
  wire::Bytes request;
  if (!wire::ParseHexBytes(hex, &request) || request.size() < 2 || request.size() > 255) {
    return in.Fail("send needs a request of 2 to 255 bytes in hex, e.g. 18 01");
  }
  if (!in.bmc.IsInitialized()) return in.Fail(in.bmc.path() + " holds no simulated BMC (bmcsim init)");
  for (uint64_t i = 0; i < repeat; ++i) {
    ExchangeResult result = in.bmc.Exchange(request.data(), request.size(), in.clock);
    switch (result.outcome) {
      case ExchangeOutcome::kResponse:
        *in.out += wire::HexSpaced(result.response) + "\n";
        break;
      case ExchangeOutcome::kUnreachable:
        *in.out += "status 9\n";
        *failed = true;
        break;
      case ExchangeOutcome::kTransferFailed:
      case ExchangeOutcome::kMethodCallFailed:  // not on the vendor driver's path
        *in.out += "status 10\n";
        *failed = true;
        break;
    }
  }
  return true;
}

}  // namespace

int RunTool(const std::vector<std::string>& args, platform::Clock& clock, std::string* out,
            std::string* err) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    *out += ToolHelpText();
    return args.empty() ? kExitError : kExitOk;
  }
  using Verb = std::function<bool(Invocation&)>;
  bool transportFailed = false;
  const std::map<std::string, Verb> verbs = {
      {"init", Init},
      {"set", Set},
      {"reset", Reset},
      {"export-flash", ExportFlash},
      {"load-flash", LoadFlash},
      {"load-sdr", LoadSdr},
      {"export-sdr", ExportSdr},
      {"show", Show},
      {"fault", Fault},
      {"log", Log},
      {"latency", Latency},
      {"send", [&](Invocation& in) { return Send(in, &transportFailed); }},
  };
  auto verb = verbs.find(args[0]);
  std::string error;
  if (verb == verbs.end()) {
    error = "unknown verb '" + args[0] + "' (see bmcsim --help)";
  } else if (args.size() < 2) {
    error = args[0] + " needs the BMC directory (see bmcsim --help)";
  } else {
    BmcDirectory bmc(args[1]);
    Invocation in{args, clock, bmc, out, &error};
    if (verb->second(in)) return transportFailed ? kExitTransportFailure : kExitOk;
  }
  *err += "bmcsim: " + error + "\n";
  return kExitError;
}

}  // namespace bmcsim
