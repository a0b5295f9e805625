#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "bmcsim/faults/fault_rules.h"
#include "bmcsim/model/sdr_records.h"
#include "platform/clock.h"
#include "wire/byte_io.h"

namespace bmcsim {

// What Get Device ID reports.
struct DeviceIdentity {
  uint8_t deviceId = 0x20;
  uint8_t deviceRevision = 0x01;
  uint8_t firmwareRevision1 = 0x01;
  uint8_t firmwareRevision2 = 0x00;
  uint8_t ipmiVersion = 0x02;
  uint8_t additionalSupport = 0xBF;
  uint32_t manufacturerId = 0x4E9B2D;  // 3 bytes on the wire
  uint16_t productId = 0x0001;
  bool auxPresent = true;  // 18-byte response with the 4 auxiliary revision bytes, else 14
  uint8_t auxRevision[4] = {0, 0, 0, 0};
};

struct BmcSettings {
  uint32_t capacity = 65535;  // bytes of record area per repository
  uint32_t erasePolls = 3;    // status polls an erase takes; 0 = done at start
  uint32_t latencyMs = 0;     // slept after every exchange
  uint8_t oemE0[3] = {0, 0, 0};
};

// One SDR repository. A reservation of 0 means none is valid.
struct SdrRepository {
  std::vector<SdrRecord> records;
  uint32_t additionStamp = 0;
  uint32_t eraseStamp = 0;
  uint16_t reservation = 0;
};

// A record being written with Partial Add: its ID is assigned at the first chunk.
struct PendingAdd {
  uint16_t recordId = 0;
  wire::Bytes bytes;
};

// The spared repository exists while the update lock is held.
struct SparedSdr {
  bool lockHeld = false;
  SdrRepository repository;
  std::optional<PendingAdd> pending;
  bool eraseInProgress = false;
  uint32_t erasePollsLeft = 0;
};

struct BmcState {
  DeviceIdentity identity;
  BmcSettings settings;
  SdrRepository active;
  SparedSdr spared;
  std::vector<FaultRule> faults;
  uint32_t lastStamp = 0;          // every change stamps above this
  uint16_t lastReservationId = 0;  // shared by both repositories, so IDs never collide
};

// A timestamp for a change: the wall clock's seconds, but always above the previous one so
// that two changes within a second still differ.
uint32_t NextStamp(BmcState& state, platform::Clock& clock);
// A fresh reservation ID, never 0.
uint16_t NextReservationId(BmcState& state);

// Resets the spared repository to "lock not held".
void ReleaseSparedSdr(BmcState& state);
// Another party reserves both repositories: the holders' reservations are cancelled and an
// unfinished Partial Add record is dropped.
void CancelReservations(BmcState& state);

// A new BMC: the given identity and settings, empty repository stamped now.
BmcState FreshState(const DeviceIdentity& identity, const BmcSettings& settings, platform::Clock& clock);

}  // namespace bmcsim
