#include "fwtool/channel_access.h"

#include <cstdio>
#include <string>

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

// Channel 2's volatile setting as the BMC reports it; false when the answer is no reading.
bool ReadSetting(FwRun& run, ipmi::ChannelAccess* setting) {
  const ipmi::Outcome<ipmi::ChannelAccess> read =
      run.Send(ipmi::GetChannelAccess(kChannel, ipmi::AccessSet::kVolatile));
  if (!read) {
    if (read.malformed == ipmi::Malformed::kValue)
      run.Log("Get Channel Access answered a setting channel 2 cannot have.");
    return false;
  }
  *setting = read.value;
  return true;
}

std::string SettingText(const ipmi::ChannelAccess& setting) {
  char text[48];
  std::snprintf(text, sizeof text, "access %02Xh, privilege %02Xh", setting.access, setting.privilege);
  return text;
}

enum class SetOutcome { kShown, kFailed, kNotShown };

// Sets channel 2's volatile access and reads it back: kShown once the BMC shows it; kFailed when
// the request failed or the setting could not be read; kNotShown when it was acknowledged but
// the channel shows another setting.
SetOutcome SetAndConfirm(FwRun& run, uint8_t access, uint8_t privilege, uint8_t shownPrivilege) {
  if (!run.Send(ipmi::SetChannelAccess(kChannel, static_cast<uint8_t>(access | kVolatileSetting), privilege)))
    return SetOutcome::kFailed;
  ipmi::ChannelAccess now;
  if (!ReadSetting(run, &now)) return SetOutcome::kFailed;
  if ((now.access & kAccessBits) == (access & kAccessBits) && (now.privilege & kPrivilegeBits) == shownPrivilege)
    return SetOutcome::kShown;
  run.Log("Channel 2 shows " + SettingText(now) + " after it was set.");
  return SetOutcome::kNotShown;
}

}  // namespace

int GetChannelAccess(FwRun& run) {
  if (Query(run)) return 0;
  // What is saved here is written back at the end: it is asked twice, so that a garbled reading
  // cannot leave the channel in another setting, or off, for good.
  ipmi::ChannelAccess setting, again;
  if (!ReadSetting(run, &setting) || !ReadSetting(run, &again))
    return ReportFailedExchange(run, FwCode::kGetChannelAccess);
  if (setting.access != again.access || setting.privilege != again.privilege) {
    run.Log("Get Channel Access was answered differently when asked again.");
    return ReportFailedExchange(run, FwCode::kGetChannelAccess);
  }
  run.channel.access = setting.access;
  run.channel.privilege = setting.privilege;
  run.channel.saved = true;
  run.Log("=== GetChannelAccess() success. ===");
  if (SetChannelAccess(run, kDisabledAccess, kPrivilegeUnchanged) == 0) return 0;
  // The disable may have happened with only its answer lost: channel 2 must not stay off.
  RestoreChannelAccess(run);
  return 1;
}

int SetChannelAccess(FwRun& run, uint8_t access, uint8_t privilege) {
  if (Query(run)) return 0;
  // Privilege bits 7..6 of 00b leave the limit as it was, which the read-back must then show.
  const uint8_t shownPrivilege =
      (privilege & 0xC0) == 0 ? run.channel.privilege & kPrivilegeBits : privilege & kPrivilegeBits;
  for (int sent = 1;; ++sent) {
    const SetOutcome outcome = SetAndConfirm(run, access, privilege, shownPrivilege);
    if (outcome == SetOutcome::kShown) break;
    if (outcome == SetOutcome::kFailed || sent >= kChangeSendings)
      return ReportFailedExchange(run, FwCode::kSetChannelAccess);
  }
  run.Log("=== SetChannelAccess() success. ===");
  return 0;
}

int RestoreChannelAccess(FwRun& run) {
  if (!run.channel.saved) return 0;
  const uint8_t access = run.channel.access & kAccessBits;
  const uint8_t privilege = run.channel.privilege & kPrivilegeBits;
  // Channel 2 must not stay off for one lost, refused or ignored request: a few more tries, a
  // pause apart, each on a path opened afresh if a failed call of the Microsoft driver tore it
  // down; an attempt counts once the channel shows the saved setting again.
  for (int attempt = 1; attempt <= kRestoreAttempts; ++attempt) {
    if (attempt > 1) run.ctx.clock.SleepMs(kRestorePauseMs);
    transport::ReopenAfterTeardown(run.ctx.transport);
    if (SetAndConfirm(run, access, privilege, privilege) == SetOutcome::kShown) {
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
