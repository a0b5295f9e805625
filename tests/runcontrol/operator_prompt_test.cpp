#include "runcontrol/operator_prompt.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/testing/memory_console.h"

namespace runcontrol {
namespace {

const std::string kQuestion = "Do you really update it?[y/n]\n";
const std::string kInvalid = "The input value is invalid. Please input it again. \r\n";

TEST(ConfirmUpdate, AsksUntilYesOrNoAndEndOfInputIsNo) {
  const struct {
    const char* input;
    bool confirmed;
    std::string output;
    std::string left;  // what the next reader of the console gets
  } cases[] = {
      {"y", true, kQuestion, ""},
      {"Yes\nnext", true, kQuestion, "next"},
      {"x\nY\n", true, kQuestion + kInvalid + kQuestion, ""},
      {"\nn\n", false, kQuestion + kInvalid + kQuestion, ""},
      {"ok?\nN and more\nnext", false, kQuestion + kInvalid + kQuestion, "next"},
      {"n", false, kQuestion, ""},
      {"", false, kQuestion, ""},
      {"x", false, kQuestion + kInvalid + kQuestion, ""},
      {"maybe\n", false, kQuestion + kInvalid + kQuestion, ""},
  };
  for (const auto& c : cases) {
    platform::MemoryConsole console(c.input);
    EXPECT_EQ(ConfirmUpdate(console), c.confirmed) << c.input;
    EXPECT_EQ(console.Output(), c.output) << c.input;
    std::string left;
    for (int ch = console.ReadChar(); ch != platform::Console::kEndOfInput; ch = console.ReadChar()) {
      left += static_cast<char>(ch);
    }
    EXPECT_EQ(left, c.left) << c.input;
  }
}

}  // namespace
}  // namespace runcontrol
