// The payload is a list of tagged sections (tag, length, content), so that later parts of the
// BMC can add sections and older readers skip them.
#include "bmcsim/store/state_payload.h"

#include <cstring>

#include "bmcsim/faults/fault_rules.h"
#include "wire/byte_io.h"

namespace bmcsim {
namespace {

enum Section : uint8_t {
  kIdentity = 1,
  kSettings = 2,
  kActive = 3,
  kSpared = 4,
  kFaults = 5,
  kCounters = 6,
  kChannel = 7,
  kFirmware = 8,
  kFlash = 9,         // whole contents of both banks
  kFlashCells = 10,   // journal only: cells of one bank with their present values
  kFlashErased = 11,  // journal only: a range of one bank that is all FFh
  kHostDrivers = 12,
  kSystemInterface = 13,
  kBoot = 14,  // the boot window and what each bank's image reports
  kLastSection = kBoot,
};

constexpr int kBanks = 2;
constexpr uint64_t kBlockLimit = (uint64_t{1} << 32) / FlashBank::kBlockSize;  // inside 32-bit offsets

std::string Framed(Section tag, const wire::ByteWriter& content) {
  wire::ByteWriter out;
  out.U8(tag);
  out.Blob(content.bytes());
  const wire::Bytes& bytes = out.bytes();
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void PutRepository(wire::ByteWriter& out, const SdrRepository& repository) {
  out.Text(JoinRecords(repository.records));
  out.U32(repository.additionStamp);
  out.U32(repository.eraseStamp);
  out.U16(repository.reservation);
}

bool GetRepository(wire::ByteReader& in, SdrRepository* repository, std::string* error) {
  std::string records;
  SdrRepository r;
  if (!in.Text(&records) || !in.U32(&r.additionStamp) || !in.U32(&r.eraseStamp) || !in.U16(&r.reservation) ||
      !SplitRecords(records, &r.records, error)) {
    return false;
  }
  *repository = std::move(r);
  return true;
}

bool GetFlag(wire::ByteReader& in, bool* flag) {
  uint8_t value = 0;
  if (!in.U8(&value) || value > 1) return false;
  *flag = value != 0;
  return true;
}

bool GetBankNumber(wire::ByteReader& in, uint8_t* bank) {
  return in.U8(bank) && *bank >= 1 && *bank <= kBanks;
}

std::string IdentitySection(const DeviceIdentity& id) {
  wire::ByteWriter s;
  for (uint8_t b : {id.deviceId, id.deviceRevision, id.firmwareRevision1, id.firmwareRevision2,
                    id.ipmiVersion, id.additionalSupport}) {
    s.U8(b);
  }
  s.U32(id.manufacturerId);
  s.U16(id.productId);
  s.U8(id.auxPresent ? 1 : 0);
  s.Append(id.auxRevision, 4);
  return Framed(kIdentity, s);
}

std::string SettingsSection(const BmcSettings& settings) {
  wire::ByteWriter s;
  s.U32(settings.capacity);
  s.U32(settings.erasePolls);
  s.U32(settings.latencyMs);
  s.Append(settings.oemE0, 3);
  return Framed(kSettings, s);
}

std::string SparedSection(const SparedSdr& spared) {
  wire::ByteWriter s;
  s.U8(spared.lockHeld ? 1 : 0);
  PutRepository(s, spared.repository);
  s.U8(spared.pending ? 1 : 0);
  if (spared.pending) {
    s.U16(spared.pending->recordId);
    s.Blob(spared.pending->bytes);
  }
  s.U8(spared.eraseInProgress ? 1 : 0);
  s.U32(spared.erasePollsLeft);
  return Framed(kSpared, s);
}

std::string ChannelSection(const ChannelAccessSettings& channel) {
  wire::ByteWriter s;
  s.U8(channel.active.access).U8(channel.active.privilege);
  s.U8(channel.nonVolatile.access).U8(channel.nonVolatile.privilege);
  return Framed(kChannel, s);
}

std::string FirmwareSection(const FirmwareState& firmware) {
  wire::ByteWriter s;
  s.U8(firmware.chip.index ? 1 : 0).U8(firmware.chip.index.value_or(0));
  s.U8(firmware.chip.sizeCode).U8(firmware.chip.sectorCode);
  s.U32(firmware.bankSize).U32(firmware.eraseMs);
  s.U8(firmware.runningBank).U8(firmware.imageSelector).U8(firmware.downloaderBank);
  s.U8(firmware.eraseRunning ? 1 : 0).U64(firmware.eraseStartMs);
  for (const BankActivity& activity : firmware.activity) {
    s.U32(activity.erases).U32(activity.writes).U64(activity.bytesWritten);
  }
  return Framed(kFirmware, s);
}

std::string FlashSection(const FirmwareState& firmware) {
  wire::ByteWriter s;
  s.U8(kBanks);
  for (const FlashBank& bank : firmware.banks) {
    s.U32(static_cast<uint32_t>(bank.blocks().size()));
    for (const auto& [number, cells] : bank.blocks()) s.U32(number).Append(cells);
  }
  return Framed(kFlash, s);
}

std::string BootSection(const BmcState& state) {
  wire::ByteWriter s;
  s.U64(state.bootStartMs).U32(state.bootMs);
  for (int i = 0; i < kBanks; ++i) {
    const auto& revision = state.firmware.bankRevision[i];
    s.U8(revision ? 1 : 0).U8(revision ? (*revision)[0] : 0).U8(revision ? (*revision)[1] : 0);
    s.U8(state.firmware.writtenSinceBoot[i] ? 1 : 0);
  }
  return Framed(kBoot, s);
}

bool GetBoot(wire::ByteReader& in, BmcState* state) {
  uint64_t startMs = 0;
  uint32_t lengthMs = 0;
  std::optional<FirmwareRevision> revisions[kBanks];
  bool written[kBanks] = {false, false};
  if (!in.U64(&startMs) || !in.U32(&lengthMs)) return false;
  for (int i = 0; i < kBanks; ++i) {
    bool known = false;
    FirmwareRevision revision{};
    if (!GetFlag(in, &known) || !in.U8(&revision[0]) || !in.U8(&revision[1]) || !GetFlag(in, &written[i]))
      return false;
    if (known) revisions[i] = revision;
  }
  state->bootStartMs = startMs;
  state->bootMs = lengthMs;
  for (int i = 0; i < kBanks; ++i) {
    state->firmware.bankRevision[i] = revisions[i];
    state->firmware.writtenSinceBoot[i] = written[i];
  }
  return true;
}

bool GetFirmware(wire::ByteReader& in, FirmwareState* firmware) {
  FirmwareState f;
  bool fitted = false;
  uint8_t index = 0;
  if (!GetFlag(in, &fitted) || !in.U8(&index) || !in.U8(&f.chip.sizeCode) || !in.U8(&f.chip.sectorCode) ||
      !in.U32(&f.bankSize) || !in.U32(&f.eraseMs) || !GetBankNumber(in, &f.runningBank) ||
      !GetBankNumber(in, &f.imageSelector) || !GetBankNumber(in, &f.downloaderBank) ||
      !GetFlag(in, &f.eraseRunning) || !in.U64(&f.eraseStartMs)) {
    return false;
  }
  f.chip.index = fitted ? std::optional<uint8_t>(index) : std::nullopt;
  for (BankActivity& activity : f.activity) {
    if (!in.U32(&activity.erases) || !in.U32(&activity.writes) || !in.U64(&activity.bytesWritten))
      return false;
  }
  // The contents come in their own section, the banks' revisions in the boot section.
  for (int i = 0; i < kBanks; ++i) {
    f.banks[i] = std::move(firmware->banks[i]);
    f.bankRevision[i] = firmware->bankRevision[i];
    f.writtenSinceBoot[i] = firmware->writtenSinceBoot[i];
  }
  *firmware = std::move(f);
  return true;
}

bool GetFlash(wire::ByteReader& in, FirmwareState* firmware) {
  uint8_t banks = 0;
  if (!in.U8(&banks) || banks != kBanks) return false;
  FlashBank parsed[kBanks];
  wire::Bytes cells(FlashBank::kBlockSize);
  for (FlashBank& bank : parsed) {
    uint32_t count = 0;
    if (!in.U32(&count)) return false;
    uint64_t next = 0;  // block numbers ascend
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t number = 0;
      if (!in.U32(&number) || number < next || number >= kBlockLimit ||
          !in.Copy(cells.size(), cells.data())) {
        return false;
      }
      bank.Store(number * FlashBank::kBlockSize, cells.data(), cells.size());
      next = uint64_t{number} + 1;
    }
  }
  for (int i = 0; i < kBanks; ++i) firmware->banks[i] = std::move(parsed[i]);
  return true;
}

bool GetSection(Section tag, wire::ByteReader& in, BmcState* state, std::string* error) {
  switch (tag) {
    case kIdentity: {
      DeviceIdentity id;
      bool ok = in.U8(&id.deviceId) && in.U8(&id.deviceRevision) && in.U8(&id.firmwareRevision1) &&
                in.U8(&id.firmwareRevision2) && in.U8(&id.ipmiVersion) && in.U8(&id.additionalSupport) &&
                in.U32(&id.manufacturerId) && in.U16(&id.productId) && GetFlag(in, &id.auxPresent) &&
                in.Copy(4, id.auxRevision);
      if (ok) state->identity = id;
      return ok;
    }
    case kSettings: {
      BmcSettings s;
      bool ok = in.U32(&s.capacity) && in.U32(&s.erasePolls) && in.U32(&s.latencyMs) && in.Copy(3, s.oemE0);
      if (ok) state->settings = s;
      return ok;
    }
    case kActive:
      return GetRepository(in, &state->active, error);
    case kSpared: {
      SparedSdr spared;
      bool hasPending = false;
      if (!GetFlag(in, &spared.lockHeld) || !GetRepository(in, &spared.repository, error) ||
          !GetFlag(in, &hasPending)) {
        return false;
      }
      if (hasPending) {
        PendingAdd pending;
        if (!in.U16(&pending.recordId) || !in.Blob(&pending.bytes)) return false;
        spared.pending = std::move(pending);
      }
      if (!GetFlag(in, &spared.eraseInProgress) || !in.U32(&spared.erasePollsLeft)) return false;
      state->spared = std::move(spared);
      return true;
    }
    case kFaults: {
      uint32_t count = 0;
      if (!in.U32(&count)) return false;
      std::vector<FaultRule> faults;
      for (uint32_t i = 0; i < count; ++i) {
        std::string text;
        FaultRule rule;
        if (!in.Text(&text) || !ParseFaultRule(text, &rule, error)) return false;
        faults.push_back(std::move(rule));
      }
      state->faults = std::move(faults);
      return true;
    }
    case kCounters:
      return in.U32(&state->lastStamp) && in.U16(&state->lastReservationId);
    case kChannel: {
      ChannelAccessSettings channel;
      bool ok = in.U8(&channel.active.access) && in.U8(&channel.active.privilege) &&
                in.U8(&channel.nonVolatile.access) && in.U8(&channel.nonVolatile.privilege);
      if (ok) state->channel2 = channel;
      return ok;
    }
    case kFirmware:
      return GetFirmware(in, &state->firmware);
    case kFlash:
      return GetFlash(in, &state->firmware);
    case kFlashCells: {
      uint8_t bank = 0;
      uint32_t offset = 0;
      wire::Bytes cells;
      if (!GetBankNumber(in, &bank) || !in.U32(&offset) || !in.Blob(&cells) ||
          uint64_t{offset} + cells.size() > UINT32_MAX) {
        return false;
      }
      state->firmware.banks[bank - 1].Store(offset, cells.data(), cells.size());
      return true;
    }
    case kHostDrivers:
      return GetFlag(in, &state->microsoftDriver);
    case kSystemInterface:
      return in.U8(&state->globalEnables);
    case kBoot:
      return GetBoot(in, state);
    case kFlashErased: {
      uint8_t bank = 0;
      uint32_t offset = 0;
      uint32_t length = 0;
      if (!GetBankNumber(in, &bank) || !in.U32(&offset) || !in.U32(&length)) return false;
      state->firmware.banks[bank - 1].Erase(offset, length);
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> SerializeSections(const BmcState& state) {
  wire::ByteWriter counters;
  counters.U32(state.lastStamp);
  counters.U16(state.lastReservationId);
  wire::ByteWriter active;
  PutRepository(active, state.active);
  wire::ByteWriter faults;
  faults.U32(static_cast<uint32_t>(state.faults.size()));
  for (const FaultRule& rule : state.faults) faults.Text(FormatFaultRule(rule));
  // A section of its own, so that states saved before it existed still load (without it).
  wire::ByteWriter host;
  host.U8(state.microsoftDriver ? 1 : 0);
  wire::ByteWriter systemInterface;
  systemInterface.U8(state.globalEnables);
  return {IdentitySection(state.identity),
          SettingsSection(state.settings),
          Framed(kActive, active),
          SparedSection(state.spared),
          Framed(kFaults, faults),
          Framed(kCounters, counters),
          ChannelSection(state.channel2),
          FirmwareSection(state.firmware),
          Framed(kHostDrivers, host),
          Framed(kSystemInterface, systemInterface),
          BootSection(state)};
}

std::string SerializeState(const BmcState& state, const std::vector<std::string>& sections) {
  std::string payload;
  for (const std::string& section : sections) payload += section;
  return payload + FlashSection(state.firmware);
}

std::string SerializeState(const BmcState& state) {
  return SerializeState(state, SerializeSections(state));
}

std::string FlashChangeSections(const BmcState& state, const std::vector<FlashChange>& changes) {
  std::string sections;
  for (const FlashChange& change : changes) {
    wire::ByteWriter s;
    s.U8(change.bank).U32(change.offset);
    if (change.erased) {
      s.U32(change.length);
      sections += Framed(kFlashErased, s);
    } else {
      s.Blob(state.firmware.banks[change.bank - 1].Read(change.offset, change.length));
      sections += Framed(kFlashCells, s);
    }
  }
  return sections;
}

bool ApplyStatePayload(std::string_view payload, BmcState* state, std::string* error) {
  wire::ByteReader in(payload);
  while (!in.AtEnd()) {
    uint8_t tag = 0;
    wire::Bytes body;
    if (!in.U8(&tag) || !in.Blob(&body)) {
      *error = "state file is damaged";
      return false;
    }
    if (tag < kIdentity || tag > kLastSection) continue;  // a section of a later format
    wire::ByteReader section(body.data(), body.size());
    std::string detail;
    if (!GetSection(static_cast<Section>(tag), section, state, &detail) || !section.AtEnd()) {
      *error =
          "state file section " + std::to_string(tag) + " is damaged" + (detail.empty() ? "" : ": " + detail);
      return false;
    }
  }
  return true;
}

bool ParseStatePayload(std::string_view payload, BmcState* state, std::string* error) {
  BmcState parsed;
  if (!ApplyStatePayload(payload, &parsed, error)) return false;
  *state = std::move(parsed);
  return true;
}

}  // namespace bmcsim
