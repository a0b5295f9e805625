#include "sdrtool/bmc_status.h"

#include "runcontrol/bmc_status.h"
#include "sdrtool/result_codes.h"
#include "sdrtool/sdr_run.h"
#include "transport/log_exchange.h"

namespace veltrop {
namespace {

constexpr const char* kHardwareIdFile = "mchk_fil";

}  // namespace

int GetBmcStatus(SdrRun& run) {
  // The first request of a run goes without the tool's pause and trace.
  ipmi::Sender plain(run.ctx.transport);
  const runcontrol::BmcStatusCheck check = runcontrol::CheckBmcStatus(plain, kHardwareIdFile);
  const char* code = nullptr;
  switch (check.status) {
    case runcontrol::BmcStatus::kTarget:
      run.Log("GetBmcStatus() success.");
      return 0;
    case runcontrol::BmcStatus::kDriverUnreachable:
      code = "SDRC03";
      break;
    case runcontrol::BmcStatus::kNoIdentity:
      code = "SDRC05";
      break;
    case runcontrol::BmcStatus::kHardwareListUnreadable:
      code = "SDRC06";
      break;
    case runcontrol::BmcStatus::kNotListed:
      code = "SDRC04";
      break;
  }
  run.Report(code);
  // A list that cannot be read says nothing about the exchange.
  if (check.status != runcontrol::BmcStatus::kHardwareListUnreadable) {
    const transport::IpmiResponse& response = check.answer.response;
    transport::LogExchange([&run](const std::string& line) { run.Log(line); }, "", check.request.bytes,
                           check.request.length, response.bytes, response.length);
  }
  return 1;
}

std::string NormaliseVersionText(const std::string& text) {
  if (text.size() >= 17) return text.substr(12, 5);
  if (text.size() >= 13) return text.substr(12);
  return text;
}

int CompareSDRVersion(SdrRun& run) {
  if (run.settings.mode == ModeForce) return 0;
  std::string& input = run.programming.sdrVersionText;
  std::string& bmc = run.bmc.sdrVersionText;
  if (input.empty()) {
    run.Report("SDRC07");
    return 1;
  }
  input = NormaliseVersionText(input);
  bmc = NormaliseVersionText(bmc);
  const int cmp = bmc.compare(input);  // bytewise, unsigned

  std::string code, word;
  if (run.settings.mode == ModeVersion) {
    code = "OK";
    word = cmp == 0 ? "Even" : (cmp < 0 ? "Upper" : "Lower");
  } else if (cmp < 0) {
    run.Log("CompareSDRVersion() success.");
    return 0;
  } else {
    code = "Down Grade";
  }
  run.ctx.reporter.WriteModeResult(code, word, bmc);
  if (code != "OK") run.Log(std::string(ResultCodeMessage("SDRC02")) + ":" + code);
  return 1;
}

}  // namespace veltrop
