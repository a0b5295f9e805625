#include "bmcsim/model/bmc_state.h"

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
  return state;
}

}  // namespace bmcsim
