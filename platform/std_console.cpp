#include <cstdio>

#include "platform/console.h"

namespace platform {
namespace {

class StdioConsole : public Console {
 public:
  void Write(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
  int ReadChar() override {
    int c = std::getchar();
    return c == EOF ? kEndOfInput : c;
  }
};

}  // namespace

Console& StdConsole() {
  static StdioConsole console;
  return console;
}

}  // namespace platform
