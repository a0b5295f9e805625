#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "tests/support/child_process.h"
#include "tests/support/log_lines.h"
#include "tests/support/result_file.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::JoinPath;
using testsupport::ReadResultFile;
using testsupport::RunProcess;
using testsupport::StopRequest;

// Reaching the middle of the work takes a second or two; only a broken run comes near this.
constexpr uint32_t kMidWorkBoundMs = 60000;
// Below what a run that missed the request takes (the SDR tool holds its result back for 30 s,
// the firmware tool waits 30 s for its result to be taken and pauses 10 s at its end), with
// room for a loaded machine beside other tests.
constexpr uint32_t kStopBoundMs = 20000;
// Well inside the cleanup, whose first exchange the BMC answers this late.
constexpr uint32_t kSecondRequestAfterMs = 100;
constexpr char kSlowCleanup[] = "delay=300";
constexpr char kStopLine[] = "Stop requested: the run ends at this safe point and cleans up.";
constexpr uint32_t kImageSize = 0x18000;
// The boot block stays: Korvane writes the image from here on.
constexpr uint32_t kWrittenFrom = 0x10000;
constexpr uint32_t kChunk = 28;

enum class Tool { kVeltrop, kKorvane };

struct InterruptCase {
  const char* name;
  Tool tool;
  StopRequest request;
  int requests;  // 2: the second follows the first at once, while the run cleans up
  // Korvane: each erase keeps the flash busy, so the run waits 5 s before each poll of it;
  // the request comes during such a wait.
  bool slowErase = false;
};

const InterruptCase kCases[] = {
    {"VeltropCtrlC", Tool::kVeltrop, StopRequest::kCtrlC, 1},
    {"VeltropTerminate", Tool::kVeltrop, StopRequest::kTerminate, 1},
    {"VeltropConsoleClose", Tool::kVeltrop, StopRequest::kConsoleClose, 1},
    {"VeltropCtrlCTwice", Tool::kVeltrop, StopRequest::kCtrlC, 2},
    {"KorvaneCtrlC", Tool::kKorvane, StopRequest::kCtrlC, 1},
    {"KorvaneTerminate", Tool::kKorvane, StopRequest::kTerminate, 1},
    {"KorvaneConsoleClose", Tool::kKorvane, StopRequest::kConsoleClose, 1},
    {"KorvaneCtrlCTwice", Tool::kKorvane, StopRequest::kCtrlC, 2},
    {"KorvaneConsoleCloseWhileErasing", Tool::kKorvane, StopRequest::kConsoleClose, 1, true},
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
  *os << c.name;
}

uint64_t Now() {
  return platform::SystemClock().MonotonicMs();
}

bool WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs) {
  const uint64_t deadline = Now() + timeoutMs;
  while (!condition()) {
    if (Now() > deadline) return false;
    platform::SystemClock().SleepMs(20);
  }
  return true;
}

std::string WithoutSpaces(std::string text) {
  text.erase(
      std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n' || c == '\r'; }),
      text.end());
  return text;
}

// The number after key, the first one following anchor in a text without spaces; -1 if none.
long NumberAfter(const std::string& text, const std::string& anchor, const std::string& key) {
  const size_t at = text.find(anchor);
  const size_t k = at == std::string::npos ? at : text.find(key, at);
  return k == std::string::npos ? -1 : std::strtol(text.c_str() + k + key.size(), nullptr, 10);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

bool StartsWith(const std::string& line, const std::string& start) {
  return line.rfind(start, 0) == 0;
}

// An update of either program against a simulated BMC whose writes (record chunks, flash
// chunks) are slowed down, so that a request reliably lands in the middle of them.
class Interrupts : public ::testing::TestWithParam<InterruptCase> {
 protected:
  void SetUp() override {
    if (GetParam().tool == Tool::kVeltrop) {
      SetUpVeltrop();
    } else {
      SetUpKorvane();
    }
    testsupport::SetEnvironment("BMCSIM_DIR", bmc);
  }

  void SetUpVeltrop() {
    const std::string pkg = dir.path();
    work = JoinPath(pkg, "sdr");
    ASSERT_TRUE(platform::MakeDirectory(work));
    testsupport::WriteFile(JoinPath(pkg, "ExUpInfo.xml"), "<ExUpInfo><version>1.00</version></ExUpInfo>\n");
    testsupport::WriteFile(JoinPath(work, "mchk_fil"), "supported: 0100\n");
    std::string sdr;
    ASSERT_TRUE(platform::ReadWholeFile(JoinPath(BMC_EXAMPLES_DIR, "bmcsdr_v2.sdr"), &sdr));
    testsupport::WriteFile(JoinPath(work, "new.sdr"), sdr);
    ASSERT_TRUE(Bmcsim({"init", bmc, "--product-id", "0x0100", "--erase-polls", "0"}));
    ASSERT_TRUE(Bmcsim({"load-sdr", bmc, repositoryFile}));
    // Partial Add, 30 ms each: the records take seconds to write.
    ASSERT_TRUE(Bmcsim({"fault", bmc, "add", "netfn=0x3e cmd=0x13 count=always delay=30"}));
    // The lock's release (after its taking) is slow to answer: a second request meets the cleanup.
    ASSERT_TRUE(Bmcsim({"fault", bmc, "add", std::string("netfn=0x3e cmd=0x10 skip=1 ") + kSlowCleanup}));
    program = VELTROP_SIM;
    args = {"-update", "-sdr", "new.sdr"};
    result = JoinPath(pkg, "Update_normal.xml");
    progress = JoinPath(pkg, "Get_ratio.xml_tmp");
    log = JoinPath(work, "veltrop.log");
    versionQuery = {"-version", "-sdr", "new.sdr"};
    versionResult = JoinPath(pkg, "Get_version.xml");
  }

  void SetUpKorvane() {
    const std::string prog = JoinPath(dir.path(), "prog");
    work = JoinPath(dir.path(), "work");
    ASSERT_TRUE(platform::MakeDirectory(prog));
    ASSERT_TRUE(platform::MakeDirectory(work));
    // Korvane keeps its files beside itself.
    program = JoinPath(prog, std::filesystem::path(KORVANE_SIM).filename().string());
    std::filesystem::copy_file(KORVANE_SIM, program);
    testsupport::WriteFile(JoinPath(prog, "mchk_fil"), "supported: 0100\n");
    testsupport::WriteFile(JoinPath(work, "ExUpInfo.xml"), "<ExUpInfo><version>02.40</version></ExUpInfo>\n");
    image.resize(kImageSize);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 31 + (i >> 8));
    testsupport::WriteFile(JoinPath(prog, "bmcfw.bin"), image);
    ASSERT_TRUE(Bmcsim({"init", bmc, "--product-id", "0x0100", "--device-id", "0x38", "--fw-rev", "02.30",
                        "--bank-size", "0x80000", "--erase-ms", GetParam().slowErase ? "1000" : "0"}));
    // Flash writes, 5 ms each: the image takes seconds to write.
    ASSERT_TRUE(Bmcsim({"fault", bmc, "add", "netfn=0x08 cmd=0x02 count=always delay=5"}));
    // So is channel 2's restore (after its disable).
    ASSERT_TRUE(Bmcsim({"fault", bmc, "add", std::string("netfn=0x06 cmd=0x40 skip=1 ") + kSlowCleanup}));
    args = {"-force"};
    result = JoinPath(work, "Update_force.xml");
    progress = JoinPath(prog, "Get_ratio.xml_tmp");
    log = JoinPath(prog, "Korvane_log.txt");
    versionQuery = {"-version"};
    versionResult = JoinPath(work, "Get_version.xml");
  }

  // A refused step shows what bmcsim said (a rare refusal under Wine's load is otherwise silent).
  ::testing::AssertionResult Bmcsim(const std::vector<std::string>& bmcsimArgs) {
    const std::string out = JoinPath(dir.path(), "bmcsim.out");
    const int status = RunProcess(BMCSIM_TOOL, bmcsimArgs, dir.path(), out);
    if (status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "bmcsim exit status " << status << ": " << testsupport::ReadFileOrEmpty(out);
  }
  std::string BmcsimOutput(const std::vector<std::string>& bmcsimArgs) {
    const std::string out = JoinPath(dir.path(), "bmcsim.out");
    RunProcess(BMCSIM_TOOL, bmcsimArgs, dir.path(), out);
    return testsupport::ReadFileOrEmpty(out);
  }

  // The ratio the progress file shows; -1 while there is none.
  int Ratio() {
    const testsupport::ResultTree tree = ReadResultFile(progress);
    return tree.parsed && tree.resultCode == "OK" ? std::atoi(tree.data.c_str()) : -1;
  }

  // The records are being written under the spared repository's lock (past the erase's 40);
  // the image is being written (past the erase's 25), or a first erase has begun.
  bool MidWork() {
    if (GetParam().tool == Tool::kVeltrop) return Ratio() > 40;
    if (!GetParam().slowErase) return Ratio() >= 25;
    if (Ratio() < 0) return false;
    const std::vector<std::string> exchanges = Lines(BmcsimOutput({"log", bmc}));
    return std::any_of(exchanges.begin(), exchanges.end(),
                       [](const std::string& line) { return StartsWith(line, "20 01 "); });
  }

  // The spared repository was taken once and let go with "discard" right after a record's last
  // chunk; the active repository holds what it held.
  void CheckSdrBmc() {
    EXPECT_NE(WithoutSpaces(BmcsimOutput({"show", bmc})).find("\"lock\":{\"held\":false}"),
              std::string::npos);
    const std::vector<std::string> exchanges = Lines(BmcsimOutput({"log", bmc}));
    const auto count = [&](const std::string& start) {
      return std::count_if(exchanges.begin(), exchanges.end(),
                           [&](const std::string& line) { return StartsWith(line, start); });
    };
    EXPECT_EQ(count("F8 10 00 ->"), 1);
    EXPECT_EQ(count("F8 10 01 ->"), 1);
    EXPECT_EQ(count("F8 10 02 ->"), 0);
    const auto discard = std::find_if(exchanges.begin(), exchanges.end(), [](const std::string& line) {
      return StartsWith(line, "F8 10 01 ->");
    });
    const auto lastAdd = std::find_if(std::make_reverse_iterator(discard), exchanges.rend(),
                                      [](const std::string& line) { return StartsWith(line, "F8 13 "); });
    ASSERT_NE(lastAdd, exchanges.rend());
    // Reservation, record ID and offset come first; then 01h for a record's last chunk.
    EXPECT_EQ(lastAdd->substr(21, 3), "01 ") << *lastAdd;
    EXPECT_NE(lastAdd->find("-> FC 13 00"), std::string::npos) << *lastAdd;

    const std::string exported = JoinPath(dir.path(), "active.bin");
    ASSERT_TRUE(Bmcsim({"export-sdr", bmc, exported}));
    EXPECT_TRUE(testsupport::ReadFileOrEmpty(exported) == testsupport::ReadFileOrEmpty(repositoryFile));
  }

  // Channel 2 is back on, the image selector still names the running bank, the bank written
  // holds whole chunks of the image and is erased after them.
  void CheckFirmwareBmc() {
    const std::string state = WithoutSpaces(BmcsimOutput({"show", bmc}));
    EXPECT_EQ(NumberAfter(state, "\"volatile\":", "\"access\":"), 0x22) << state;
    EXPECT_EQ(NumberAfter(state, "\"volatile\":", "\"privilege\":"), 4) << state;
    EXPECT_EQ(NumberAfter(state, "\"firmware\":", "\"image_selector\":"), 1) << state;
    EXPECT_EQ(NumberAfter(state, "\"bank\":1", "\"bytes_written\":"), 0) << state;
    const long written = NumberAfter(state, "\"bank\":2", "\"bytes_written\":");
    ASSERT_GE(written, 0) << state;
    ASSERT_LE(written, static_cast<long>(kImageSize - kWrittenFrom));
    if (written != static_cast<long>(kImageSize - kWrittenFrom)) {
      EXPECT_EQ(written % kChunk, 0) << written;
    }
    const std::string exported = JoinPath(dir.path(), "bank2.bin");
    ASSERT_TRUE(
        Bmcsim({"export-flash", bmc, exported, "--bank", "2", "--length", std::to_string(kImageSize)}));
    const std::string flash = testsupport::ReadFileOrEmpty(exported);
    ASSERT_EQ(flash.size(), image.size());
    const size_t end = kWrittenFrom + static_cast<size_t>(written);
    EXPECT_TRUE(flash.compare(kWrittenFrom, end - kWrittenFrom, image, kWrittenFrom, end - kWrittenFrom) ==
                0);
    EXPECT_EQ(flash.find_first_not_of('\xFF', end), std::string::npos);

    // Set Channel Access: off before the passes, on again after the last write.
    const std::vector<std::string> exchanges = Lines(BmcsimOutput({"log", bmc}));
    std::vector<size_t> channelSets;
    size_t lastWrite = 0;
    for (size_t i = 0; i < exchanges.size(); ++i) {
      if (StartsWith(exchanges[i], "18 40 ")) channelSets.push_back(i);
      if (StartsWith(exchanges[i], "20 02 ")) lastWrite = i;
    }
    ASSERT_EQ(channelSets.size(), 2u);
    EXPECT_GT(channelSets[1], lastWrite);
  }

  testsupport::TempDir dir;
  std::string bmc = JoinPath(dir.path(), "bmc");
  std::string repositoryFile = JoinPath(BMC_REAL_SDR_DIR, "server12.bin");
  std::string work;
  std::string program;
  std::vector<std::string> args;
  std::string result;
  std::string progress;
  std::string log;
  std::vector<std::string> versionQuery;
  std::string versionResult;
  std::string image;
};

// Ctrl-C, a termination request or a closing console in the middle of an update: the run
// stops at its next safe point, gives back what it took on the BMC (the spared repository
// discarded; channel 2 restored, the image selector untouched), answers with an error code,
// removes its progress file and lets go of its instance lock. A second request while it
// cleans up changes nothing.
TEST_P(Interrupts, StopAtASafePointAndCleanUp) {
  const InterruptCase& c = GetParam();
  auto update = testsupport::StartInterruptibleProcess(program, args, work);
  ASSERT_NE(update, nullptr);
  if (!WaitFor([&] { return MidWork() || !update->Running(); }, kMidWorkBoundMs) || !update->Running()) {
    update->Kill();
    FAIL() << "the update did not reach its writes; ratio " << Ratio();
  }

  const uint64_t requested = Now();
  ASSERT_TRUE(update->Interrupt(c.request));
  for (int n = 1; n < c.requests; ++n) {
    platform::SystemClock().SleepMs(kSecondRequestAfterMs);
    update->Interrupt(c.request);  // may come after the end
  }
  const bool ended = WaitFor([&] { return !update->Running(); }, kStopBoundMs);
  const uint64_t tookMs = Now() - requested;
  if (!ended) update->Kill();
  ASSERT_TRUE(ended) << "still running " << kStopBoundMs << " ms after the request";
  const int status = update->Wait();
  // On Windows the system ends a process whose console closed once its handlers returned.
  if (c.request != StopRequest::kConsoleClose) {
    EXPECT_EQ(status, 0);
  }
  RecordProperty("stop_ms", static_cast<int>(tookMs));

  const testsupport::ResultTree answer = ReadResultFile(result);
  EXPECT_TRUE(answer.parsed) << testsupport::ReadFileOrEmpty(result);
  if (c.tool == Tool::kVeltrop) {
    EXPECT_EQ(answer.resultCode, "SDR033");
  } else if (c.slowErase) {
    EXPECT_EQ(answer.resultCode, "C8");
  } else {
    EXPECT_TRUE(answer.resultCode == "C9" || answer.resultCode == "C10") << answer.resultCode;
  }
  EXPECT_FALSE(platform::FileReadable(progress));
  const std::vector<std::string> lines = testsupport::ReadLogTexts(log);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kStopLine), 1);

  if (c.tool == Tool::kVeltrop) {
    CheckSdrBmc();
  } else {
    CheckFirmwareBmc();
  }

  // The instance lock is free: a version query is answered, not "Busy".
  EXPECT_EQ(RunProcess(program, versionQuery, work), 0);
  EXPECT_EQ(ReadResultFile(versionResult).resultCode, "OK");
}

INSTANTIATE_TEST_SUITE_P(Updates, Interrupts, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<InterruptCase>& info) { return info.param.name; });

}  // namespace
