#include "status/com_error_report.h"

#include <gtest/gtest.h>

namespace status {
namespace {

TEST(ComErrorReport, FivePiecesWithTheMeaningChosenByWhatIsKnown) {
  const struct {
    uint32_t code;
    const char* systemMessage;
    const char* meaning;
  } cases[] = {
      {0x8007000E, "Not enough memory resources are available to complete this operation.\r\n",
       "Not enough memory resources are available to complete this operation."},
      {0x80040201, "", "IDispatch error #1"},
      {0x80040200, "", "IDispatch error #0"},
      {0x8004FFFF, "", "IDispatch error #65023"},
      {0x800401FF, "", "Unknown error 0x800401FF"},
      {0x00000001, "", "Unknown error 0x1"},
  };
  for (const auto& c : cases) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lx", static_cast<unsigned long>(c.code));
    EXPECT_EQ(ComErrorReport(c.code, c.systemMessage, "msxml3.dll", "out of memory"),
              std::string("Error\n\a\tCode = ") + code + "\n\a\tCode meaning = " + c.meaning +
                  "\a\tSource = msxml3.dll\n\a\tDescription = out of memory\n");
  }
}

}  // namespace
}  // namespace status
