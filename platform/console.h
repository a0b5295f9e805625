#pragma once
#include <string>
#include <string_view>

namespace platform {

// The console as the programs use it: plain text out, one character at a time in.
class Console {
 public:
  static constexpr int kEndOfInput = -1;
  virtual ~Console() = default;
  virtual void Write(std::string_view text) = 0;
  // Next character of standard input, or kEndOfInput once input has ended.
  virtual int ReadChar() = 0;
};

// Standard output and standard input of the process.
Console& StdConsole();

}  // namespace platform
