#pragma once

namespace korvane {

// What an operator needs after a switch error: printed on the console only, never logged and
// never in a result file (the update manager reads those).
extern const char kUsage[];

}  // namespace korvane
