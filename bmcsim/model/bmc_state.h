#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "bmcsim/faults/fault_rules.h"
#include "bmcsim/model/flash_bank.h"
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

// A channel's access setting as Get Channel Access reports it: the access byte (bit 5 alerting
// disabled, bit 4 per-message authentication disabled, bit 3 user-level authentication
// disabled, bits 2:0 access mode) and the privilege limit (bits 3:0).
struct ChannelAccess {
  uint8_t access = 0x22;
  uint8_t privilege = 0x04;
  bool operator==(const ChannelAccess& other) const {
    return access == other.access && privilege == other.privilege;
  }
};

// The volatile setting is in force now; a BMC reset starts again from the non-volatile one.
struct ChannelAccessSettings {
  ChannelAccess active;
  ChannelAccess nonVolatile;
};

// The flash ID chip: the index FW ID Chip echoes (none: no index is echoed), and the size and
// sector codes that chip 4 reports.
struct FlashChip {
  std::optional<uint8_t> index = 1;
  uint8_t sizeCode = 1;
  uint8_t sectorCode = 1;
};

struct BankActivity {
  uint32_t erases = 0;  // Firmware Erase commands carried out
  uint32_t writes = 0;  // Firmware Write commands carried out
  uint64_t bytesWritten = 0;
};

// The two firmware revision bytes Get Device ID reports.
using FirmwareRevision = std::array<uint8_t, 2>;

// The firmware flash: bank 1 from address 0, bank 2 (dual-bank devices) right after it.
struct FirmwareState {
  FlashChip chip;
  uint32_t bankSize = 0x400000;
  uint32_t eraseMs = 0;  // how long an erase keeps the chip busy
  uint8_t runningBank = 1;
  uint8_t imageSelector = 1;   // the bank the next reset boots
  uint8_t downloaderBank = 1;  // the bank erases and writes go to
  // The erase in progress, on the monotonic clock.
  bool eraseRunning = false;
  uint64_t eraseStartMs = 0;
  FlashBank banks[2];
  BankActivity activity[2];
  // The image carries no version: a bank's revision is the one it last ran with (the running
  // bank's is the identity's), or the one a reset names for an image written since the boot.
  std::optional<FirmwareRevision> bankRevision[2];
  bool writtenSinceBoot[2] = {false, false};
};

// Flash cells that a request changed, so that a save can carry just these.
struct FlashChange {
  uint8_t bank = 1;
  uint32_t offset = 0;  // from the start of the bank
  uint32_t length = 0;
  bool erased = false;  // all FFh now
};

constexpr uint8_t kDefaultGlobalEnables = 0x08;     // system event logging only
constexpr uint8_t kGlobalEnablesInterrupts = 0x03;  // receive message queue, event message buffer full
constexpr uint8_t kGlobalEnablesReserved = 0x10;

struct BmcState {
  DeviceIdentity identity;
  BmcSettings settings;
  SdrRepository active;
  SparedSdr spared;
  ChannelAccessSettings channel2;
  FirmwareState firmware;
  std::vector<FaultRule> faults;
  // The host runs the Microsoft IPMI driver: requests may also come through its WMI provider.
  bool microsoftDriver = false;
  // BMC Global Enables of the system interface (bit 0: receive message queue interrupt, 2:
  // event message buffer, 3: system event logging); a host driver sets them at start.
  uint8_t globalEnables = kDefaultGlobalEnables;
  // After a reset the BMC answers nothing for bootMs, on the monotonic clock.
  uint64_t bootStartMs = 0;
  uint32_t bootMs = 0;
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

// A new BMC: the given identity and settings, empty repository stamped now, erased flash,
// booted from bank 1.
BmcState FreshState(const DeviceIdentity& identity, const BmcSettings& settings, platform::Clock& clock);

struct ResetOptions {
  // The revision of an image written since the last boot (or of a bank whose revision was
  // never known), which a reset into it reports.
  std::optional<FirmwareRevision> imageRevision;
  uint32_t bootMs = 0;  // how long the BMC answers nothing
  uint64_t nowMs = 0;   // the monotonic clock at the reset
};

// The BMC restarts: it boots the bank the image selector names and reports that bank's
// revision, its volatile channel settings start again from the non-volatile ones, and whatever
// lived only in its memory (the update lock with the spared repository, reservations, a running
// erase) is gone. Until options.bootMs have passed it answers nothing.
void ResetBmc(BmcState& state, const ResetOptions& options = {});

// True while the BMC boots after a reset. A clock reading before the reset comes from another
// boot of the machine, not from the past: the BMC counts as up.
bool Booting(const BmcState& state, uint64_t nowMs);

}  // namespace bmcsim
