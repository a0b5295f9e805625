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
};

void PutSection(wire::ByteWriter& out, Section tag, const wire::ByteWriter& content) {
  out.U8(tag);
  out.Blob(content.bytes());
}

void PutRepository(wire::ByteWriter& out, const SdrRepository& repository) {
  out.Text(JoinRecords(repository.records));
  out.U32(repository.additionStamp);
  out.U32(repository.eraseStamp);
  out.U16(repository.reservation);
}

bool GetRepository(wire::ByteReader& in, SdrRepository* repository, std::string* error) {
  std::string records;
  if (!in.Text(&records) || !in.U32(&repository->additionStamp) || !in.U32(&repository->eraseStamp) ||
      !in.U16(&repository->reservation)) {
    return false;
  }
  return SplitRecords(records, &repository->records, error);
}

bool GetFlag(wire::ByteReader& in, bool* flag) {
  uint8_t value = 0;
  if (!in.U8(&value) || value > 1) return false;
  *flag = value != 0;
  return true;
}

bool GetSection(Section tag, wire::ByteReader& in, BmcState* state, std::string* error) {
  switch (tag) {
    case kIdentity: {
      DeviceIdentity& id = state->identity;
      wire::Bytes aux;
      bool ok = in.U8(&id.deviceId) && in.U8(&id.deviceRevision) && in.U8(&id.firmwareRevision1) &&
                in.U8(&id.firmwareRevision2) && in.U8(&id.ipmiVersion) && in.U8(&id.additionalSupport) &&
                in.U32(&id.manufacturerId) && in.U16(&id.productId) && GetFlag(in, &id.auxPresent) &&
                in.Take(4, &aux);
      if (ok) std::memcpy(id.auxRevision, aux.data(), 4);
      return ok;
    }
    case kSettings: {
      BmcSettings& s = state->settings;
      wire::Bytes e0;
      bool ok = in.U32(&s.capacity) && in.U32(&s.erasePolls) && in.U32(&s.latencyMs) && in.Take(3, &e0);
      if (ok) std::memcpy(s.oemE0, e0.data(), 3);
      return ok;
    }
    case kActive:
      return GetRepository(in, &state->active, error);
    case kSpared: {
      SparedSdr& spared = state->spared;
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
      return GetFlag(in, &spared.eraseInProgress) && in.U32(&spared.erasePollsLeft);
    }
    case kFaults: {
      uint32_t count = 0;
      if (!in.U32(&count)) return false;
      for (uint32_t i = 0; i < count; ++i) {
        std::string text;
        FaultRule rule;
        if (!in.Text(&text) || !ParseFaultRule(text, &rule, error)) return false;
        state->faults.push_back(std::move(rule));
      }
      return true;
    }
    case kCounters:
      return in.U32(&state->lastStamp) && in.U16(&state->lastReservationId);
  }
  return false;
}

}  // namespace

std::string SerializeState(const BmcState& state) {
  wire::ByteWriter out;
  wire::ByteWriter s;
  const DeviceIdentity& id = state.identity;
  for (uint8_t b : {id.deviceId, id.deviceRevision, id.firmwareRevision1, id.firmwareRevision2,
                    id.ipmiVersion, id.additionalSupport}) {
    s.U8(b);
  }
  s.U32(id.manufacturerId);
  s.U16(id.productId);
  s.U8(id.auxPresent ? 1 : 0);
  s.Append(id.auxRevision, 4);
  PutSection(out, kIdentity, s);

  s = wire::ByteWriter();
  s.U32(state.settings.capacity);
  s.U32(state.settings.erasePolls);
  s.U32(state.settings.latencyMs);
  s.Append(state.settings.oemE0, 3);
  PutSection(out, kSettings, s);

  s = wire::ByteWriter();
  PutRepository(s, state.active);
  PutSection(out, kActive, s);

  s = wire::ByteWriter();
  s.U8(state.spared.lockHeld ? 1 : 0);
  PutRepository(s, state.spared.repository);
  s.U8(state.spared.pending ? 1 : 0);
  if (state.spared.pending) {
    s.U16(state.spared.pending->recordId);
    s.Blob(state.spared.pending->bytes);
  }
  s.U8(state.spared.eraseInProgress ? 1 : 0);
  s.U32(state.spared.erasePollsLeft);
  PutSection(out, kSpared, s);

  s = wire::ByteWriter();
  s.U32(static_cast<uint32_t>(state.faults.size()));
  for (const FaultRule& rule : state.faults) s.Text(FormatFaultRule(rule));
  PutSection(out, kFaults, s);

  s = wire::ByteWriter();
  s.U32(state.lastStamp);
  s.U16(state.lastReservationId);
  PutSection(out, kCounters, s);

  const wire::Bytes& bytes = out.bytes();
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool ParseStatePayload(std::string_view payload, BmcState* state, std::string* error) {
  wire::ByteReader in(payload);
  BmcState parsed;
  while (!in.AtEnd()) {
    uint8_t tag = 0;
    wire::Bytes body;
    if (!in.U8(&tag) || !in.Blob(&body)) {
      *error = "state file is damaged";
      return false;
    }
    if (tag < kIdentity || tag > kCounters) continue;  // a section of a later format
    wire::ByteReader section(body.data(), body.size());
    std::string detail;
    if (!GetSection(static_cast<Section>(tag), section, &parsed, &detail) || !section.AtEnd()) {
      *error =
          "state file section " + std::to_string(tag) + " is damaged" + (detail.empty() ? "" : ": " + detail);
      return false;
    }
  }
  *state = std::move(parsed);
  return true;
}

}  // namespace bmcsim
