#pragma once
#include <cstdint>
#include <string>
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

using Record = std::vector<uint8_t>;

// The test's handle on a simulated BMC's state directory (the programs reach the same BMC
// through transport::MakeSimulatedDriver).
class SimBmc {
 public:
  explicit SimBmc(std::string dir) : dir_(std::move(dir)) {}
  const std::string& dir() const { return dir_; }

  void Init(const SimIdentity& identity = {});
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
  uint32_t AdditionTimestamp() const;
  uint32_t EraseTimestamp() const;
  bool LockHeld() const;

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
