#include "runcontrol/switch_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace runcontrol {
namespace {

struct SwitchCase {
  const char* name;
  std::vector<const char*> args;  // after the program name
  bool accepted;
  std::vector<std::string> applied;
};

TEST(ParseSwitches, TheTableDecidesNamesValuesAndWhereParsingStops) {
  const SwitchCase cases[] = {
      {"no switches", {}, true, {}},
      {"names without regard to case", {"-V", "-L"}, true, {"v", "l"}},
      {"exact-case name in another case is unknown", {"-f", "x.bin"}, false, {}},
      {"exact-case name", {"-F", "x.bin", "-v"}, true, {"F=x.bin", "v"}},
      {"a required value is the next argument whatever it is", {"-F", "-v"}, true, {"F=-v"}},
      {"a required value missing at the end rejects", {"-v", "-F"}, false, {"v"}},
      {"an optional value is taken", {"-l", "run.log", "-v"}, true, {"l=run.log", "v"}},
      {"an optional value never begins with -", {"-l", "-v"}, true, {"l", "v"}},
      {"an optional value missing at the end", {"-v", "-l"}, true, {"v", "l"}},
      {"an unknown switch stops", {"-v", "-q", "-l"}, false, {"v"}},
      {"a stray value is unknown", {"-v", "x.bin", "-l"}, false, {"v"}},
      {"a rejected switch stops", {"-x", "-v"}, false, {"x"}},
  };
  for (const SwitchCase& c : cases) {
    std::vector<std::string> applied;
    auto record = [&applied](const char* name, bool accept) {
      return [&applied, name, accept](const std::string* value) {
        applied.push_back(std::string(name) + (value ? "=" + *value : ""));
        return accept;
      };
    };
    const std::vector<SwitchRule> rules = {
        {"-v", false, SwitchValue::kNone, record("v", true)},
        {"-F", true, SwitchValue::kRequired, record("F", true)},
        {"-l", false, SwitchValue::kOptional, record("l", true)},
        {"-x", false, SwitchValue::kNone, record("x", false)},
    };
    std::vector<const char*> argv = {"prog"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(ParseSwitches(rules, static_cast<int>(argv.size()), argv.data(), 1), c.accepted) << c.name;
    EXPECT_EQ(applied, c.applied) << c.name;
  }
}

TEST(ConvertNumber, ReadsLikeTheCLibraryAndWrapsInsteadOfOverflowing) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"42", 42},
      {" \t\n42", 42},
      {"+7", 7},
      {"-7", -7},
      {"12abc", 12},
      {"3 4", 3},
      {"abc", 0},
      {"", 0},
      {"- 5", 0},
      {"--5", 0},
      {"0x10", 0},
      {"2147483647", 2147483647},
      {"2147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"4294967297", 1},
      {"99999999999", 1215752191},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConvertNumber(c.text), c.value) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace runcontrol
