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

void ResetBmc(BmcState& state) {
  FirmwareState& firmware = state.firmware;
  firmware.runningBank = firmware.imageSelector;
  firmware.downloaderBank = StandbyBank(state);
  firmware.eraseRunning = false;
  state.channel2.active = state.channel2.nonVolatile;
  ReleaseSparedSdr(state);
  state.active.reservation = 0;
  state.globalEnables = kDefaultGlobalEnables;
}

}  // namespace bmcsim
