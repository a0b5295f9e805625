#pragma once
#include <string>
#include <string_view>

#include "platform/console.h"

namespace platform {

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
