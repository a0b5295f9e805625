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

// Test console: reads from a prepared text, collects what is written.
class MemoryConsole : public Console {
 public:
  explicit MemoryConsole(std::string input = {}) : input_(std::move(input)) {}
  void Write(std::string_view text) override { output_.append(text); }
  int ReadChar() override {
    if (pos_ >= input_.size()) return kEndOfInput;
    return static_cast<unsigned char>(input_[pos_++]);
  }
  const std::string& Output() const { return output_; }
  void ClearOutput() { output_.clear(); }

 private:
  std::string input_;
  size_t pos_ = 0;
  std::string output_;
};

}  // namespace platform
