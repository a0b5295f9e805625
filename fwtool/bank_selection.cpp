#include "fwtool/bank_selection.h"

#include <string>

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
  const uint8_t programmed = run.layout.BankInProgram();
  for (int sent = 1;; ++sent) {
    if (!run.Send(ipmi::SetImageSelector(ipmi::kDownloaderBank)))
      return ReportFailedExchange(run, FwCode::kSetImageSelector);
    // A single-bank device has no selector to read back.
    if (!IsDualBank(run.identity.deviceId)) break;
    const ipmi::Outcome<uint8_t> now = run.Send(ipmi::GetImageSelector());
    if (now && now.value == programmed) break;
    const std::string reading = now ? "bank " + std::to_string(now.value) : "no bank";
    run.Log("The image selector names " + reading + " after it was set to bank " +
            std::to_string(programmed) + ".");
    if (sent >= kChangeSendings) return ReportFailedExchange(run, FwCode::kSetImageSelector);
  }
  run.Log("=== SetFWImageSelector() success. ===");
  return 0;
}

}  // namespace korvane
