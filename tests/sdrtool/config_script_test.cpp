#include <string>
#include <vector>

#include "sdrtool/config_script/config_commands.h"
#include "tests/sdrtool/config_script_fixture.h"

namespace veltrop {
namespace {

struct FailureCase {
  const char* name;
  std::string script;
  std::vector<int> errors;  // reported, in order; the run's result is the last one
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class ScriptFailureTest : public ConfigScriptTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ScriptFailureTest, ReportsItsErrorsInOrderAndProgramsNothing) {
  const FailureCase& c = GetParam();
  // An SDR file that opens, for the lines that name one.
  Write("a.sdr", "_LF_NAME 'a'\n");
  Write("empty.sdr", "");
  EXPECT_EQ(c.errors.back(), RunScript(c.script));
  EXPECT_EQ(c.errors, ReportedErrors());
}

const FailureCase kLoadAndParseFailures[] = {
    {"UnknownKeyword", "SET A\nBOGUS x\n", {11, 23}},
    {"KeywordNotFirst", "  x SET A\n", {11, 23}},
    {"ClearSdrIsNotClear", "CLEARSDRX\n", {11, 13}},
    {"MenuTitleIsNotMenu", "MENUTITLED \"x\"\n", {11, 13}},
    {"NotACommand", "NOTACMD\n", {11, 13}},
    {"ElseTakesNoArgument", "IFSET A\nELSE B\nENDIF\n", {11, 24}},
    {"TooManyArguments", "SET A B\n", {11, 24}},
    {"SixthArgument", "PROBE a b c d e f\n", {11, 24}},
    {"ArgumentTooLong", "SET ABCDEFGHIJKLMNOPQRSTUVWXYZ012345\n", {11, 8}},
    {"DisplayTextTooLong", "DISPLAY \"" + std::string(81, 'x') + "\"\n", {11, 8}},
    {"QuoteAtLineEnd", "DISPLAY \"\n", {11, 20}},
    {"QuoteNeverClosed", "DISPLAY \"hello there\n", {11, 14}},
    {"QuoteInsideWord", "SET ab\"c\"\n", {11, 22}},
    {"TabInsideQuotes", "DISPLAY \"a\tb\"\n", {11, 69}},
    {"ControlCharacter", "SET a\x01z\n", {11, 69}},
    {"HighCharacter", "SET a\xC3\xA9\n", {11, 69}},
    // A script that never ends (a device, a pipe) or holds NUL bytes is refused whole.
    {"NulByte", std::string("SET A\n") + '\0' + "SET B\n", {70}},
    {"LargerThan512KiB", "SET A\n" + std::string(600 * 1024, ' ') + "\n", {71}},
    // Every line is parsed before anything runs.
    {"ParseBeforeExecute", "ELSE\nSET A B\n", {11, 24}},
};
INSTANTIATE_TEST_SUITE_P(LoadAndParse, ScriptFailureTest, ::testing::ValuesIn(kLoadAndParseFailures),
                         [](const auto& info) { return std::string(info.param.name); });

const FailureCase kExecutionFailures[] = {
    {"SetWithoutName", "SET A\nSET\n", {15}},
    {"ClearWithoutName", "CLEAR\n", {15}},
    {"ConfigurationWithoutName", "CONFIGURATION\n", {15}},
    {"DisplayWithoutText", "DISPLAY\n", {15}},
    {"SdrNameWithoutFile", "SDRNAME\n", {15}},
    {"IfSetWithoutName", "IFSET\nENDIF\n", {16}},
    {"IfSetWithoutNameInInactiveBranch", "IFSET A\nIFSET\nENDIF\nENDIF\n", {16}},
    {"ElseOutsideBlock", "ELSE\n", {17}},
    {"EndIfOutsideBlock", "IFSET A\nENDIF\nENDIF\n", {18}},
    {"BlockNotClosed", "IFSET A\nELSE\n", {19}},
    {"SdrFileMissing", "SDRNAME missing.sdr\n", {68}},
    {"SdrFileEmpty", "SDRNAME empty.sdr\n", {68}},
    {"TwoGroups", "SDRNAME a.sdr FIRST LAST\n", {9}},
    {"TwoCompares", "SDRNAME a.sdr COMPARE COMPARE\n", {9}},
    {"UnknownOption", "SDRNAME a.sdr LATER\n", {9}},
    {"UnknownThirdOption", "SDRNAME a.sdr COMPARE NOW\n", {9}},
    {"ClearSdrInActiveBranch", "CLEARSDR\n", {11}},
    {"MenuTitle", "MENUTITLE \"Board\"\n", {11}},
    {"MenuTitleWithoutTitle", "MENUTITLE\n", {15}},
    {"Boot", "SET A\nIFSET A\nBOOT\nENDIF\n", {11}},
    {"FruField", "FRUFIELD a b\n", {11}},
    {"ErrorLevel", "ERRORLEVEL 2\n", {11}},
};
INSTANTIATE_TEST_SUITE_P(Execute, ScriptFailureTest, ::testing::ValuesIn(kExecutionFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigScriptTest, MissingScriptIsReported) {
  EXPECT_EQ(SdrError::kConfigFileOpenFailed, script->Run("absent.cfg"));
  EXPECT_EQ(std::vector<int>{67}, ReportedErrors());
}

TEST_F(ConfigScriptTest, EmptyScriptFileCountsAsUnopenable) {
  EXPECT_EQ(67, RunScript(""));
  EXPECT_EQ(std::vector<int>{67}, ReportedErrors());
}

TEST_F(ConfigScriptTest, ScriptWithoutCommandsSucceeds) {
  EXPECT_EQ(0, RunScript("// nothing to do\n\n   \t\n// SET A\n"));
  EXPECT_TRUE(ReportedErrors().empty());
  EXPECT_TRUE(script->Lines().empty());
}

TEST_F(ConfigScriptTest, UnsupportedCommandsInInactiveBranchesAreSkipped) {
  EXPECT_EQ(0, RunScript("IFSET NOTSET\n"
                         "CLEARSDR\nBOOT\nMENU a b\nPROBE a b c d e\nSET\nSDRNAME missing.sdr\nELSE\n"
                         "SET TAKEN\n"
                         "ENDIF\n"));
  EXPECT_TRUE(ReportedErrors().empty());
  EXPECT_EQ(SetNameList{"TAKEN"}, script->Names());
}

TEST_F(ConfigScriptTest, CommentsAreCutOutsideQuotesOnly) {
  EXPECT_EQ(0, RunScript("SET Board1 // the board's name\n"
                         "\tDISPLAY \"see http://host/x\" // not shown\n"
                         "IFSET \"a // b\"\"c\"//d\n"
                         "ENDIF\n"
                         "CONFIGURATION \"//cfg\"\n"));
  EXPECT_EQ(SetNameList{"Board1"}, script->Names());
  const std::vector<std::string> log = Log();
  EXPECT_EQ((std::vector<std::string>{"see http://host/x", "Loading configuration file: //cfg"}), log);
  ASSERT_EQ(5u, script->Lines().size());
  ASSERT_EQ(2, script->Lines()[2].argumentCount);
  EXPECT_EQ("a // b", script->Lines()[2].arguments[0]);
  EXPECT_EQ("c", script->Lines()[2].arguments[1]);
}

TEST_F(ConfigScriptTest, ArgumentsSplitAtBlanksAndQuotes) {
  ASSERT_EQ(0, ExecuteScript("IFSET\t\"a b\"\"c\" d\t\"\"\nENDIF\n"));
  const ConfigLine& line = script->Lines()[0];
  EXPECT_EQ(CmdIfSet, line.commandId);
  EXPECT_EQ("IFSET", line.keyword);
  ASSERT_EQ(4, line.argumentCount);
  EXPECT_EQ("a b", line.arguments[0]);
  EXPECT_EQ("c", line.arguments[1]);
  EXPECT_EQ("d", line.arguments[2]);
  EXPECT_EQ("", line.arguments[3]);
}

TEST_F(ConfigScriptTest, KeywordsAndSdrNameOptionsIgnoreCase) {
  for (const char* name : {"a.sdr", "b.sdr", "c.sdr", "d.sdr", "e.sdr", "f.sdr"}) Write(name, "x\n");
  ASSERT_EQ(0, ExecuteScript("sdrname a.sdr last Compare\n"
                             "SdrName b.sdr COMPARE first\n"
                             "SDRNAME c.sdr\n"
                             "sdrNAME d.sdr compare\n"
                             "SDRNAME e.sdr Last\n"
                             "SDRNAME f.sdr fIrSt\n"));
  const std::vector<SdrNameEntry>& e = script->Entries();
  ASSERT_EQ(6u, e.size());
  const struct {
    const char* file;
    bool compare;
    SdrGroup group;
  } expected[] = {{"a.sdr", true, SdrGroup::Last},   {"b.sdr", true, SdrGroup::First},
                  {"c.sdr", false, SdrGroup::First}, {"d.sdr", true, SdrGroup::First},
                  {"e.sdr", false, SdrGroup::Last},  {"f.sdr", false, SdrGroup::First}};
  for (size_t i = 0; i < e.size(); ++i) {
    EXPECT_EQ(expected[i].file, e[i].fileName) << i;
    // A FIRST entry after a COMPARE entry is programmed: the flag belongs to each command.
    EXPECT_EQ(expected[i].compare, e[i].compare) << i;
    EXPECT_EQ(expected[i].group, e[i].group) << i;
  }
}

struct BlockCase {
  const char* name;
  const char* script;
  SetNameList names;
};

void PrintTo(const BlockCase& c, std::ostream* os) {
  *os << c.name;
}

class ScriptBlockTest : public ConfigScriptTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(ScriptBlockTest, LeavesTheExpectedNames) {
  EXPECT_EQ(0, RunScript(GetParam().script));
  EXPECT_TRUE(ReportedErrors().empty());
  EXPECT_EQ(GetParam().names, script->Names());
}

const BlockCase kBlockCases[] = {
    {"ConditionHolds", "SET A\nIFSET a\nSET YES\nELSE\nSET NO\nENDIF\nSET END\n", {"A", "YES", "END"}},
    {"ConditionFails", "IFSET A\nSET YES\nELSE\nSET NO\nENDIF\n", {"NO"}},
    {"EveryNameMustBeSet", "SET A\nSET C\nIFSET A B C\nSET YES\nELSE\nSET NO\nENDIF\n", {"A", "C", "NO"}},
    {"FourNames", "SET A\nSET B\nSET C\nSET D\nIFSET d c b a\nSET YES\nENDIF\n", {"A", "B", "C", "D", "YES"}},
    {"InnerBlockOfInactiveBranchRunsNothing",
     "SET A\nIFSET B\nIFSET A\nSET X\nELSE\nSET Y\nENDIF\nCLEARSDR\nELSE\nSET Z\nENDIF\n",
     {"A", "Z"}},
    {"InnerBlockOfActiveBranch", "SET A\nIFSET A\nIFSET B\nSET X\nELSE\nSET Y\nENDIF\nENDIF\n", {"A", "Y"}},
    {"ElseAgainSwitchesBack", "IFSET A\nSET X\nELSE\nSET Y\nELSE\nSET Z\nENDIF\n", {"Y"}},
    {"ConditionSeesNamesAtItsLine", "IFSET A\nSET X\nENDIF\nSET A\nIFSET A\nSET Y\nENDIF\n", {"A", "Y"}},
    {"HashStandsForADigit", "SET BOARD7\nIFSET BOARD#\nSET YES\nENDIF\n", {"BOARD7", "YES"}},
    {"HashIsNoLetter", "SET BOARDX\nIFSET BOARD#\nSET YES\nENDIF\n", {"BOARDX"}},
    {"HashNeedsSameLength", "SET BOARD71\nIFSET BOARD#\nSET YES\nENDIF\n", {"BOARD71"}},
    {"ClearRemovesFirstEqualName", "SET A\nSET b\nSET a\nCLEAR B\nCLEAR a\nCLEAR zz\n", {"a"}},
    {"DuplicatesStay", "SET A\nSET A\n", {"A", "A"}},
    {"ClearIsNoPatternMatch", "SET BOARD7\nCLEAR BOARD#\n", {"BOARD7"}},
    {"EmptyNameIsNotSet", "SET \"\"\nCLEAR \"\"\n", {}},
};
INSTANTIATE_TEST_SUITE_P(Blocks, ScriptBlockTest, ::testing::ValuesIn(kBlockCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigScriptTest, LinesCountEveryReadAndLongLinesContinue) {
  // 255 characters per read: the rest of a longer line is read as a line of its own.
  const std::string longLine = "SET A" + std::string(250, ' ') + "SET B\n";
  ASSERT_EQ(0, RunScript("\n// remark\n" + longLine + "SET C\n"));
  EXPECT_EQ((SetNameList{"A", "B", "C"}), script->Names());
  ASSERT_EQ(3u, script->Lines().size());
  EXPECT_EQ(3, script->Lines()[0].lineNumber);
  EXPECT_EQ(4, script->Lines()[1].lineNumber);
  EXPECT_EQ(5, script->Lines()[2].lineNumber);
}

TEST_F(ConfigScriptTest, DisplayAndConfigurationAreLogged) {
  ASSERT_EQ(0, RunScript("CONFIGURATION SVR0100\nDISPLAY \"Programming %s %d\"\nDISPLAY \"\"\n"));
  EXPECT_EQ((std::vector<std::string>{"Loading configuration file: SVR0100", "Programming %s %d"}), Log());
}

}  // namespace
}  // namespace veltrop
