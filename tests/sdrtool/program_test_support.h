#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdrtool/sdr_record.h"
#include "tests/support/sim_bmc.h"
#include "transport/ipmi_driver.h"

namespace veltrop {
namespace programtest {

using testsupport::Record;

// A full record: ID, SDR version 51h, type, body of bodyLength bytes derived from seed.
Record MakeRecord(uint16_t id, uint8_t type, int bodyLength, uint8_t seed);
// count records of varying body lengths (10..59 bytes), as a sensor repository has them.
std::vector<Record> MakeRecords(int count, uint8_t seed = 0);
// The OEM record that carries an SDR version text ("S" and the rest).
Record VersionRecord(const std::string& text);

SdrRecordList ListOf(const std::vector<Record>& records);
// The records of a list, each as long as its header says.
std::vector<Record> RecordsOf(const SdrRecordList& list);
// Records with their IDs set to 0, for comparisons that ignore the IDs.
std::vector<Record> WithoutIds(std::vector<Record> records);

// An SDR text file (format 1.5, SDR version 1.50) holding the records as hex items.
std::string SdrText(const std::vector<Record>& records);

// One line of the simulated BMC's exchange log.
struct Exchange {
  std::vector<uint8_t> request;
  std::vector<uint8_t> response;  // empty when the transfer failed
};
std::vector<Exchange> Exchanges(const testsupport::SimBmc& bmc);
// The exchanges whose request begins with netFnByte and command.
std::vector<Exchange> Only(const std::vector<Exchange>& all, uint8_t netFnByte, uint8_t command);

// The simulated BMC's erase takes this many status polls (0: done at the start).
void SetErasePolls(const testsupport::SimBmc& bmc, uint32_t polls);

// Passes requests on and, before each one and when asked, notes the progress ratio the
// working file holds whenever it changed: the sequence of published ratios.
class ProgressWatcher : public transport::IpmiDriver {
 public:
  ProgressWatcher(transport::IpmiDriver* inner, std::string workFile)
      : inner_(inner), workFile_(std::move(workFile)) {}
  transport::ExchangeStatus Exchange(const transport::IpmiRequest& request,
                                     transport::IpmiResponse* response) override;
  // Looks at the working file now (after the last request).
  void Look();
  std::vector<int> published;

 private:
  transport::IpmiDriver* inner_;
  std::string workFile_;
  std::string lastContent_;
};

}  // namespace programtest
}  // namespace veltrop
