#include "bmcsim/model/bmc_state.h"

#include "bmcsim/model/flash_layout.h"

namespace bmcsim {

uint32_t NextStamp(BmcState& state, platform::Clock& clock) {
  int64_t wall = clock.WallSeconds();
  uint32_t now = wall < 0 ? 0 : static_cast<uint32_t>(wall);
  state.lastStamp = now > state.lastStamp ? now : state.lastStamp + 1;
  return state.lastStamp;
}

uint16_t NextReservationId(BmcState& state) {
  if (++state.lastReservationId == 0) state.lastReservationId = 1;
  return state.lastReservationId;
}

void ReleaseSparedSdr(BmcState& state) {
  state.spared = SparedSdr{};
}

void CancelReservations(BmcState& state) {
  state.active.reservation = NextReservationId(state);
  state.spared.repository.reservation = NextReservationId(state);
  state.spared.pending.reset();
}

BmcState FreshState(const DeviceIdentity& identity, const BmcSettings& settings, platform::Clock& clock) {
  BmcState state;
  state.identity = identity;
  state.settings = settings;
  state.active.eraseStamp = NextStamp(state, clock);
  state.active.additionStamp = state.active.eraseStamp;
  state.firmware.downloaderBank = StandbyBank(state);
  return state;
}

void ResetBmc(BmcState& state, const ResetOptions& options) {
  FirmwareState& firmware = state.firmware;
  DeviceIdentity& identity = state.identity;
  const uint8_t left = firmware.runningBank;
  const uint8_t booted = firmware.imageSelector;
  firmware.bankRevision[left - 1] = FirmwareRevision{identity.firmwareRevision1, identity.firmwareRevision2};
  // Only a new image takes the named revision: a bank that ran before and was not rewritten
  // runs its old firmware again (a selector that did not switch, a fallback).
  std::optional<FirmwareRevision>& known = firmware.bankRevision[booted - 1];
  if (options.imageRevision && (firmware.writtenSinceBoot[booted - 1] || !known)) {
    firmware.bankRevision[booted - 1] = options.imageRevision;
  }
  if (known) {
    identity.firmwareRevision1 = (*known)[0];
    identity.firmwareRevision2 = (*known)[1];
  }
  firmware.writtenSinceBoot[0] = firmware.writtenSinceBoot[1] = false;
  firmware.runningBank = booted;
  firmware.downloaderBank = StandbyBank(state);
  firmware.eraseRunning = false;
  state.channel2.active = state.channel2.nonVolatile;
  ReleaseSparedSdr(state);
  state.active.reservation = 0;
  state.globalEnables = kDefaultGlobalEnables;
  state.bootStartMs = options.nowMs;
  state.bootMs = options.bootMs;
}

bool Booting(const BmcState& state, uint64_t nowMs) {
  return state.bootMs > 0 && nowMs >= state.bootStartMs && nowMs - state.bootStartMs < state.bootMs;
}

}  // namespace bmcsim
