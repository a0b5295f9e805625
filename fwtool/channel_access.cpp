#include "fwtool/channel_access.h"

#include "fwtool/fw_run.h"
#include "transport/ipmi_exchange.h"

namespace korvane {
namespace {

constexpr uint8_t kNetFnApp = 0x06;
constexpr uint8_t kCmdSetChannelAccess = 0x40;
constexpr uint8_t kCmdGetChannelAccess = 0x41;
constexpr uint8_t kChannel = 0x02;
constexpr uint8_t kVolatileSetting = 0x80;  // get: the active setting; set: write the volatile one
constexpr uint8_t kDisabledAccess = 0x80;   // volatile, access mode 0 (disabled), flags clear
constexpr uint8_t kPrivilegeUnchanged = 0x04;
// The defined bits of what Get Channel Access returns: alerting, per-message and user-level
// authentication, access mode; and the privilege limit. Anything else must not reach the
// restore, where the top bits would select other settings.
constexpr uint8_t kAccessBits = 0x3F;
constexpr uint8_t kPrivilegeBits = 0x0F;

constexpr uint8_t kAccessModeBits = 0x07;
constexpr uint8_t kHighestAccessMode = 3;  // disabled, pre-boot only, always, shared
constexpr uint8_t kLowestPrivilege = 1;    // callback .. OEM
constexpr uint8_t kHighestPrivilege = 5;
constexpr int kRestoreAttempts = 3;
constexpr uint32_t kRestorePauseMs = 1000;

// A setting the BMC could not have: what was read cannot be put back, so it is no reading.
bool Plausible(uint8_t access, uint8_t privilege) {
  const uint8_t limit = privilege & kPrivilegeBits;
  return (access & kAccessModeBits) <= kHighestAccessMode && limit >= kLowestPrivilege &&
         limit <= kHighestPrivilege;
}

Exchange SendSetChannelAccess(FwRun& run, uint8_t access, uint8_t privilege) {
  return Send(run, kNetFnApp, kCmdSetChannelAccess,
              {kChannel, static_cast<uint8_t>(access | kVolatileSetting), privilege});
}

bool Accepted(const Exchange& e) {
  return e.status == transport::kExchangeOk && e.CompletionCode() == 0x00 && e.response.length == 3;
}

bool Query(const FwRun& run) {
  return run.settings.mode == RunMode::GetVersion || run.settings.mode == RunMode::GetRatio;
}

}  // namespace

int GetChannelAccess(FwRun& run) {
  if (Query(run)) return 0;
  const Exchange e = Send(run, kNetFnApp, kCmdGetChannelAccess, {kChannel, kVolatileSetting});
  uint8_t access = 0, privilege = 0;
  if (e.status != transport::kExchangeOk || e.CompletionCode() != 0x00 || e.response.length != 5 ||
      !e.DataByte(1, &access) || !e.DataByte(2, &privilege)) {
    ReportFailedExchange(run, "C17", e);
    return 1;
  }
  // Disabling the channel on the strength of a garbled reading would leave it off for good.
  if (!Plausible(access & kAccessBits, privilege)) {
    run.Log("Get Channel Access answered a setting channel 2 cannot have.");
    ReportFailedExchange(run, "C17", e);
    return 1;
  }
  run.channel.access = access;
  run.channel.privilege = privilege;
  run.channel.saved = true;
  run.Log("=== GetChannelAccess() success. ===");
  if (SetChannelAccess(run, kDisabledAccess, kPrivilegeUnchanged) == 0) return 0;
  // The disable may have happened with only its answer lost: channel 2 must not stay off.
  RestoreChannelAccess(run);
  return 1;
}

int SetChannelAccess(FwRun& run, uint8_t access, uint8_t privilege) {
  if (Query(run)) return 0;
  const Exchange e = SendSetChannelAccess(run, access, privilege);
  if (!Accepted(e)) {
    ReportFailedExchange(run, "C18", e);
    return 1;
  }
  run.Log("=== SetChannelAccess() success. ===");
  return 0;
}

int RestoreChannelAccess(FwRun& run) {
  if (!run.channel.saved) return 0;
  // A failed call of the Microsoft driver tore its path down; channel 2 must come back anyway.
  transport::ReopenAfterTeardown(run.ctx.transport);
  const uint8_t access = run.channel.access & kAccessBits;
  const uint8_t privilege = run.channel.privilege & kPrivilegeBits;
  // Channel 2 must not stay off for one lost or refused request: a few more tries, a pause apart.
  Exchange e;
  for (int attempt = 1; attempt <= kRestoreAttempts; ++attempt) {
    if (attempt > 1) run.ctx.clock.SleepMs(kRestorePauseMs);
    e = SendSetChannelAccess(run, access, privilege);
    if (Accepted(e)) {
      run.Log("=== SetChannelAccess() success. ===");
      return 0;
    }
  }
  ReportFailedExchange(run, "C18", e);
  return 1;
}

}  // namespace korvane
