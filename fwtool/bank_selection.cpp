#include "fwtool/bank_selection.h"

#include "fwtool/fw_run.h"
#include "ipmi/firmware_commands.h"

namespace korvane {

int GetCurrentBankId(FwRun& run, uint8_t* bank) {
  const ipmi::Outcome<uint8_t> selected = run.Send(ipmi::GetImageSelector());
  if (!selected) return ReportFailedExchange(run, FwCode::kGetImageSelector);
  *bank = selected.value;
  run.Log("Current Bank Id : " + std::to_string(*bank));
  run.Log("=== GetCurrentBankId() success. ===");
  return 0;
}

int SetBankId(FwRun& run, uint8_t bank) {
  if (!run.Send(ipmi::SetDownloaderSelector(bank)))
    return ReportFailedExchange(run, FwCode::kSetDownloaderSelector);
  run.Log("=== SetBankId() success. ===");
  return 0;
}

int GetFWImageSelector(FwRun& run, uint32_t* address) {
  const ipmi::Outcome<ipmi::DownloaderSelector> selector = run.Send(ipmi::GetDownloaderSelector());
  if (!selector) return ReportFailedExchange(run, FwCode::kGetDownloaderSelector);
  *address = selector.value.address;
  return 0;
}

int SetFWImageSelector(FwRun& run) {
  if (!run.Send(ipmi::SetImageSelector(ipmi::kDownloaderBank))) {
    return ReportFailedExchange(run, FwCode::kSetImageSelector);
  }
  run.Log("=== SetFWImageSelector() success. ===");
  return 0;
}

}  // namespace korvane
