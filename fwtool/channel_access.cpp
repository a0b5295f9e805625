#include "fwtool/channel_access.h"

#include "fwtool/fw_run.h"
#include "ipmi/device_commands.h"
#include "transport/ipmi_exchange.h"

namespace korvane {
namespace {

constexpr uint8_t kChannel = 0x02;
constexpr uint8_t kVolatileSetting = 0x80;  // write the volatile (active) setting
constexpr uint8_t kDisabledAccess = 0x80;   // volatile, access mode 0 (disabled), flags clear
constexpr uint8_t kPrivilegeUnchanged = 0x04;
// The defined bits of what Get Channel Access returns: alerting, per-message and user-level
// authentication, access mode; and the privilege limit. Anything else must not reach the
// restore, where the top bits would select other settings.
constexpr uint8_t kAccessBits = 0x3F;
constexpr uint8_t kPrivilegeBits = 0x0F;
constexpr int kRestoreAttempts = 3;
constexpr uint32_t kRestorePauseMs = 1000;

bool Query(const FwRun& run) {
  return run.settings.mode == RunMode::GetVersion || run.settings.mode == RunMode::GetRatio;
}

bool SendSetChannelAccess(FwRun& run, uint8_t access, uint8_t privilege) {
  return run
      .Send(ipmi::SetChannelAccess(kChannel, static_cast<uint8_t>(access | kVolatileSetting), privilege))
      .ok();
}

}  // namespace

int GetChannelAccess(FwRun& run) {
  if (Query(run)) return 0;
  const ipmi::Outcome<ipmi::ChannelAccess> setting =
      run.Send(ipmi::GetChannelAccess(kChannel, ipmi::AccessSet::kVolatile));
  if (!setting) {
    // Disabling the channel on the strength of a garbled reading would leave it off for good.
    if (setting.malformed == ipmi::Malformed::kValue)
      run.Log("Get Channel Access answered a setting channel 2 cannot have.");
    return ReportFailedExchange(run, FwCode::kGetChannelAccess);
  }
  run.channel.access = setting.value.access;
  run.channel.privilege = setting.value.privilege;
  run.channel.saved = true;
  run.Log("=== GetChannelAccess() success. ===");
  if (SetChannelAccess(run, kDisabledAccess, kPrivilegeUnchanged) == 0) return 0;
  // The disable may have happened with only its answer lost: channel 2 must not stay off.
  RestoreChannelAccess(run);
  return 1;
}

int SetChannelAccess(FwRun& run, uint8_t access, uint8_t privilege) {
  if (Query(run)) return 0;
  if (!SendSetChannelAccess(run, access, privilege))
    return ReportFailedExchange(run, FwCode::kSetChannelAccess);
  run.Log("=== SetChannelAccess() success. ===");
  return 0;
}

int RestoreChannelAccess(FwRun& run) {
  if (!run.channel.saved) return 0;
  const uint8_t access = run.channel.access & kAccessBits;
  const uint8_t privilege = run.channel.privilege & kPrivilegeBits;
  // Channel 2 must not stay off for one lost or refused request: a few more tries, a pause
  // apart, each on a path opened afresh if a failed call of the Microsoft driver tore it down.
  for (int attempt = 1; attempt <= kRestoreAttempts; ++attempt) {
    if (attempt > 1) run.ctx.clock.SleepMs(kRestorePauseMs);
    transport::ReopenAfterTeardown(run.ctx.transport);
    if (SendSetChannelAccess(run, access, privilege)) {
      run.channel.saved = false;
      run.Log("=== SetChannelAccess() success. ===");
      return 0;
    }
  }
  // Restored once: a restore that failed three times has reported it. One cut short by an
  // exception is still to be done.
  run.channel.saved = false;
  return ReportFailedExchange(run, FwCode::kSetChannelAccess);
}

}  // namespace korvane
