#pragma once
#include <cstddef>

#include "runcontrol/result_reporter.h"

namespace korvane {

// The firmware tool's result codes ("C1".."C22"), by what they mean.
enum class FwCode {
  kIllegalParameter = 1,   // C1
  kDriverUnavailable,      // C2
  kNotTargetHardware,      // C3: hardware ID not in mchk_fil
  kNotTargetBootBlock,     // C4: -boot on a dual-bank device
  kNotTargetDevice,        // C5: device ID of no known family
  kHardwareListMissing,    // C6
  kImageFile,              // C7
  kEraseError,             // C8
  kUpdateError,            // C9
  kVerifyError,            // C10
  kGetImageSelector,       // C11
  kSetImageSelector,       // C12
  kGetDownloaderSelector,  // C13
  kSetDownloaderSelector,  // C14
  kGetDeviceId,            // C15
  kFwIdChip,               // C16
  kGetChannelAccess,       // C17
  kSetChannelAccess,       // C18
  kTimeout,                // C19: the ratio query's copy
  kExUpInfoOpen,           // C20
  kVersionMissing,         // C21
  kVersionError,           // C22
};

// "C1".."C22".
const char* CodeText(FwCode code);

// The firmware tool's result codes with the messages they log.
extern const runcontrol::ResultMessage kResultMessages[];
extern const size_t kResultMessageCount;

}  // namespace korvane
