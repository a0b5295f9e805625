#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct SimIdentity {
  uint8_t deviceId = 0x20;
  uint8_t deviceRevision = 0x01;
  uint8_t firmware1 = 0x02;
  uint8_t firmware2 = 0x30;
  uint8_t ipmiVersion = 0x51;
  uint32_t manufacturer = 0x0002A2;
  uint16_t productId = 0x0100;
  bool auxRevision = true;  // 18-byte Get Device ID responses
};

// A channel's access byte and privilege limit, as Get Channel Access answers them.
struct SimChannelAccess {
  uint8_t access = 0x22;
  uint8_t privilege = 0x04;
  bool operator==(const SimChannelAccess& o) const { return access == o.access && privilege == o.privilege; }
};

// The firmware side of a simulated BMC at its start. Device IDs 38h, 39h and 3Ah have two
// banks (set SimIdentity::deviceId), the others one.
struct SimFirmware {
  std::optional<uint8_t> flashChip = 1;  // the fitted ID chip, 0..4, or none
  uint8_t chipSizeCode = 1;              // reported by chip 4
  uint8_t chipSectorCode = 1;            // reported by chip 4; 2 = 256-KiB sectors
  uint8_t runningBank = 1;
  uint32_t bankSize = 0x400000;
  uint32_t eraseMs = 0;  // how long an erase keeps the chip busy
  SimChannelAccess channel2Volatile;
  SimChannelAccess channel2NonVolatile;
  // What each bank holds from its start, erased after: written with the rest of the state.
  std::vector<uint8_t> flash[2];
};

struct SimSelectors {
  uint8_t runningBank = 1;
  uint8_t downloaderBank = 1;  // where erases and writes go
  uint8_t imageSelector = 1;   // what the next reset boots
};

// One reading of the firmware side: each bank's first bytes (as many as asked for), the
// selectors and channel 2's settings.
struct SimFirmwareView {
  std::vector<uint8_t> flash[2];
  uint64_t usedEnd[2] = {};  // one past each bank's last cell that is not erased
  SimSelectors selectors;
  SimChannelAccess channel2Volatile;
  SimChannelAccess channel2NonVolatile;
};

struct SimBankCounts {
  uint32_t erases = 0;
  uint32_t writes = 0;
};

using Record = std::vector<uint8_t>;

// The test's handle on a simulated BMC's state directory (the programs reach the same BMC
// through transport::MakeSimulatedDriver).
class SimBmc {
 public:
  explicit SimBmc(std::string dir) : dir_(std::move(dir)) {}
  const std::string& dir() const { return dir_; }

  void Init(const SimIdentity& identity = {});
  void Init(const SimIdentity& identity, const SimFirmware& firmware);
  // Replaces the active repository with raw records back to back (5-byte header + body).
  void LoadRecords(const std::vector<uint8_t>& raw);
  void LoadRecords(const std::vector<Record>& records);
  std::vector<Record> Records(bool spared = false) const;
  // A fault rule in the bmcsim tool's form, e.g. "netfn=0x3e cmd=0x13 skip=2 count=1 cc=0xc5".
  void AddFault(const std::string& rule);
  void ClearFaults();
  void SetLatency(uint32_t ms);
  // Status polls an erase takes; 0 completes at the start.
  void SetErasePolls(uint32_t polls);
  // Bytes of record area; takes effect at the next Init.
  void SetCapacity(uint32_t bytes) { capacity_ = bytes; }
  // One line per exchange: request hex "->" response hex or the failure.
  std::vector<std::string> LogLines() const;
  void ClearLog();
  // The host runs the Microsoft IPMI driver (bmcsim --wmi): the programs reach the BMC through
  // transport::MakeSimulatedWmiOpener.
  void SetMicrosoftDriver(bool present);
  uint32_t AdditionTimestamp() const;
  uint32_t EraseTimestamp() const;
  bool LockHeld() const;

  // The firmware side.
  // The first `length` bytes of a bank (the whole bank when 0).
  std::vector<uint8_t> FlashBytes(uint8_t bank, size_t length = 0) const;
  // Makes a bank hold these bytes from its start, erased after them.
  void LoadFlash(uint8_t bank, const std::vector<uint8_t>& bytes);
  SimBankCounts BankCounts(uint8_t bank) const;
  SimSelectors Selectors() const;
  SimChannelAccess Channel2(bool nonVolatile = false) const;
  // All of the above from one reading of the state (a bank the device lacks reads empty).
  SimFirmwareView FirmwareView(size_t bank1Length, size_t bank2Length) const;
  void SetEraseMs(uint32_t ms);
  // Restarts the BMC: it boots the bank the image selector names, now reporting this firmware
  // revision when given (bmcsim reset).
  void Reset(std::optional<std::pair<uint8_t, uint8_t>> firmwareRevision = std::nullopt);

 private:
  std::string dir_;
  uint32_t capacity_ = 65535;
};

// Raw records back to back, as a record file holds them.
std::vector<Record> SplitRecords(const std::vector<uint8_t>& raw);
std::vector<uint8_t> JoinRecords(const std::vector<Record>& records);
// A file of the real repositories under shared/testdata/real-sdr (e.g. "server07.bin").
std::vector<uint8_t> RealSdr(const std::string& name);

}  // namespace testsupport
