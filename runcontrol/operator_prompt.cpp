#include "runcontrol/operator_prompt.h"

namespace runcontrol {
namespace {

// Reads the rest of the input line; the answer character itself may have ended it.
void DiscardLine(platform::Console& console) {
  for (int c = console.ReadChar(); c != '\n' && c != platform::Console::kEndOfInput; c = console.ReadChar()) {
  }
}

}  // namespace

bool ConfirmUpdate(platform::Console& console) {
  for (;;) {
    console.Write("Do you really update it?[y/n]\n");
    const int c = console.ReadChar();
    if (c == platform::Console::kEndOfInput) return false;
    if (c == 'y' || c == 'Y' || c == 'n' || c == 'N') {
      DiscardLine(console);
      return c == 'y' || c == 'Y';
    }
    console.Write("The input value is invalid. Please input it again. \r\n");
    if (c != '\n') DiscardLine(console);
  }
}

}  // namespace runcontrol
