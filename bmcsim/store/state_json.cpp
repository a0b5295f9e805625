#include "bmcsim/store/state_json.h"

#include <vector>

#include "bmcsim/model/flash_layout.h"
#include "wire/hex_text.h"

namespace bmcsim {
namespace {

// Just enough JSON for the state: objects, arrays, numbers, plain strings, true/false/null.
class JsonWriter {
 public:
  void Open(const char* key, char bracket) {
    Key(key);
    out_ += bracket;
    first_.push_back(true);
  }
  void Close(char bracket) {
    bool empty = first_.back();
    first_.pop_back();
    if (!empty) NewLine();
    out_ += bracket;
  }
  void Number(const char* key, uint64_t value) {
    Key(key);
    out_ += std::to_string(value);
  }
  void String(const char* key, const std::string& value) {
    Key(key);
    out_ += '"' + value + '"';  // our strings are hex digits, rule text and version numbers
  }
  void Bool(const char* key, bool value) {
    Key(key);
    out_ += value ? "true" : "false";
  }
  void Null(const char* key) {
    Key(key);
    out_ += "null";
  }
  std::string Finish() { return out_ + "\n"; }

 private:
  // key is nullptr inside arrays and for the outermost object.
  void Key(const char* key) {
    if (first_.empty()) return;
    if (!first_.back()) out_ += ',';
    first_.back() = false;
    NewLine();
    if (key) out_ += std::string("\"") + key + "\": ";
  }
  void NewLine() { out_ += '\n' + std::string(first_.size() * 2, ' '); }

  std::string out_;
  std::vector<bool> first_;
};

void PutRepository(JsonWriter& json, const SdrRepository& repository) {
  json.Number("record_count", repository.records.size());
  json.Number("used_bytes", RecordBytes(repository.records));
  json.Number("addition_timestamp", repository.additionStamp);
  json.Number("erase_timestamp", repository.eraseStamp);
  json.Number("reservation", repository.reservation);
  json.Open("records", '[');
  for (const SdrRecord& record : repository.records) json.String(nullptr, wire::HexCompact(record));
  json.Close(']');
}

void PutChannelAccess(JsonWriter& json, const char* key, const ChannelAccess& setting) {
  json.Open(key, '{');
  json.Number("access", setting.access);
  json.Number("privilege", setting.privilege);
  json.Close('}');
}

std::string RevisionText(const FirmwareRevision& revision) {
  return wire::HexCompact(&revision[0], 1) + "." + wire::HexCompact(&revision[1], 1);
}

void PutFirmware(JsonWriter& json, const BmcState& state) {
  const FirmwareState& firmware = state.firmware;
  json.Open("firmware", '{');
  json.Number("running_bank", firmware.runningBank);
  json.Number("downloader_selector", firmware.downloaderBank);
  json.Number("image_selector", firmware.imageSelector);
  json.Number("bank_size", firmware.bankSize);
  json.Number("bank_count", static_cast<uint64_t>(BankCount(state)));
  if (firmware.chip.index) {
    json.Number("flash_chip", *firmware.chip.index);
  } else {
    json.Null("flash_chip");
  }
  json.Number("chip_size_code", firmware.chip.sizeCode);
  json.Number("chip_sector_code", firmware.chip.sectorCode);
  json.Number("sector_size", SectorSize(firmware.chip));
  json.Number("erase_ms", firmware.eraseMs);
  if (firmware.eraseRunning) {
    json.Number("erase_started_ms", firmware.eraseStartMs);
  } else {
    json.Null("erase_started_ms");
  }
  // The last reset's boot window; a reader compares it with its own monotonic clock.
  json.Number("boot_ms", state.bootMs);
  json.Number("boot_started_ms", state.bootStartMs);
  json.Open("banks", '[');
  for (uint8_t bank = 1; bank <= BankCount(state); ++bank) {
    const BankActivity& activity = firmware.activity[bank - 1];
    json.Open(nullptr, '{');
    json.Number("bank", bank);
    json.Number("start", BankStart(firmware, bank));
    json.Number("erases", activity.erases);
    json.Number("writes", activity.writes);
    json.Number("bytes_written", activity.bytesWritten);
    json.Number("used_end", firmware.banks[bank - 1].UsedEnd());
    const DeviceIdentity& id = state.identity;
    const auto& recorded = firmware.bankRevision[bank - 1];
    if (bank == firmware.runningBank) {
      json.String("revision", RevisionText(FirmwareRevision{id.firmwareRevision1, id.firmwareRevision2}));
    } else if (recorded) {
      json.String("revision", RevisionText(*recorded));
    } else {
      json.Null("revision");
    }
    json.Bool("written_since_boot", firmware.writtenSinceBoot[bank - 1]);
    json.Close('}');
  }
  json.Close(']');
  json.Close('}');
}

}  // namespace

std::string StateToJson(const BmcState& state) {
  JsonWriter json;
  json.Open(nullptr, '{');

  const DeviceIdentity& id = state.identity;
  json.Open("identity", '{');
  json.Number("device_id", id.deviceId);
  json.Number("device_revision", id.deviceRevision);
  json.String("firmware_revision",
              RevisionText(FirmwareRevision{id.firmwareRevision1, id.firmwareRevision2}));
  json.Number("ipmi_version", id.ipmiVersion);
  json.Number("additional_support", id.additionalSupport);
  json.Number("manufacturer_id", id.manufacturerId);
  json.Number("product_id", id.productId);
  if (id.auxPresent) {
    json.String("aux_firmware_revision", wire::HexCompact(id.auxRevision, 4));
  } else {
    json.Null("aux_firmware_revision");
  }
  json.Close('}');

  json.Open("settings", '{');
  json.Number("capacity", state.settings.capacity);
  json.Number("erase_polls", state.settings.erasePolls);
  json.Number("latency_ms", state.settings.latencyMs);
  json.String("oem_e0", wire::HexCompact(state.settings.oemE0, 3));
  json.Close('}');
  json.Bool("microsoft_ipmi_driver", state.microsoftDriver);

  json.Open("repository", '{');
  PutRepository(json, state.active);
  json.Close('}');

  json.Open("lock", '{');
  json.Bool("held", state.spared.lockHeld);
  json.Close('}');

  if (state.spared.lockHeld) {
    const SparedSdr& spared = state.spared;
    json.Open("spared", '{');
    PutRepository(json, spared.repository);
    json.Bool("erase_in_progress", spared.eraseInProgress);
    json.Number("erase_polls_left", spared.erasePollsLeft);
    if (spared.pending) {
      json.Open("pending_add", '{');
      json.Number("record_id", spared.pending->recordId);
      json.String("bytes", wire::HexCompact(spared.pending->bytes));
      json.Close('}');
    } else {
      json.Null("pending_add");
    }
    json.Close('}');
  } else {
    json.Null("spared");
  }

  json.Number("global_enables", state.globalEnables);

  json.Open("channel2", '{');
  PutChannelAccess(json, "volatile", state.channel2.active);
  PutChannelAccess(json, "nonvolatile", state.channel2.nonVolatile);
  json.Close('}');

  PutFirmware(json, state);

  json.Open("faults", '[');
  for (const FaultRule& rule : state.faults) json.String(nullptr, FormatFaultRule(rule));
  json.Close(']');

  json.Number("last_timestamp", state.lastStamp);
  json.Number("last_reservation_id", state.lastReservationId);
  json.Close('}');
  return json.Finish();
}

}  // namespace bmcsim
