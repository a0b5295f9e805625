#include "fwtool/bank_selection.h"

#include <cstdio>

#include "fwtool/fw_run.h"
#include "wire/byte_io.h"

namespace korvane {
namespace {

constexpr uint8_t kNetFnFirmware = 0x08;
constexpr uint8_t kCmdSetImageSelector = 0x04;
constexpr uint8_t kCmdGetImageSelector = 0x05;
constexpr uint8_t kCmdSetDownloaderSelector = 0x06;
constexpr uint8_t kCmdGetDownloaderSelector = 0x07;
constexpr uint8_t kBootProgrammedBank = 0x04;

bool Accepted(const Exchange& e, uint8_t length) {
  return e.status == transport::kExchangeOk && e.response.length == length && e.CompletionCode() == 0x00;
}

}  // namespace

int GetCurrentBankId(FwRun& run) {
  const Exchange e = Send(run, kNetFnFirmware, kCmdGetImageSelector, {});
  uint8_t bank = 0;
  if (!Accepted(e, 5) || !e.DataByte(2, &bank) || (bank != 1 && bank != 2)) {
    ReportFailedExchange(run, "C11", e);
    return 1;
  }
  run.layout.currentBank = bank;
  run.Log("Current Bank Id : " + std::to_string(bank));
  run.Log("=== GetCurrentBankId() success. ===");
  return 0;
}

int SetBankId(FwRun& run, uint8_t bank) {
  const Exchange e = Send(run, kNetFnFirmware, kCmdSetDownloaderSelector, {bank});
  if (!Accepted(e, 3)) {
    ReportFailedExchange(run, "C14", e);
    return 1;
  }
  run.Log("=== SetBankId() success. ===");
  return 0;
}

int GetFWImageSelector(FwRun& run, bool bank2) {
  if (IsSingleBank(run.identity.deviceId)) return 0;
  const Exchange e = Send(run, kNetFnFirmware, kCmdGetDownloaderSelector, {});
  uint32_t value = 0;
  wire::ByteReader data(e.response.bytes, e.response.length);
  if (!Accepted(e, 9) || !data.Skip(5) || !data.U32(&value)) {
    ReportFailedExchange(run, "C13", e);
    return 1;
  }
  (bank2 ? run.layout.bank2Address : run.layout.startAddress) = value;
  char line[96];
  std::snprintf(line, sizeof line, "Bank2 Address : 0x%x Start Address : 0x%x", run.layout.bank2Address,
                run.layout.startAddress);
  run.Log(line);
  run.Log("=== GetFWImageSelector() success. ===");
  return 0;
}

int SetFWImageSelector(FwRun& run) {
  const Exchange e = Send(run, kNetFnFirmware, kCmdSetImageSelector, {kBootProgrammedBank});
  if (!Accepted(e, 3)) {
    ReportFailedExchange(run, "C12", e);
    return 1;
  }
  run.Log("=== SetFWImageSelector() success. ===");
  return 0;
}

int ReadBank2Address(FwRun& run) {
  if (SetBankId(run, 2) != 0) return 1;
  if (GetFWImageSelector(run, true) != 0) return 1;
  // A bank of no length would be erased and written as nothing and then called a success.
  if (run.layout.bank2Address == 0) {
    run.Log("The BMC names a bank of length 0.");
    run.Report("C13");
    return 1;
  }
  return 0;
}

}  // namespace korvane
