#pragma once
#include <string_view>

#include "sdrtool/sdr_record.h"

namespace veltrop {

// True when the tag matches the name: position by position without regard to case, a "#" in
// the tag standing for any decimal digit, both ending together or agreeing over 32 positions.
bool NameMatchesTag(std::string_view name, std::string_view tag);
// True when the tag matches a name of the list.
bool NameMatch(const SetNameList& names, std::string_view tag);

}  // namespace veltrop
