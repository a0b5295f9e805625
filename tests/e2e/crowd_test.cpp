#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
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

constexpr int kCrowd = 50;
// Far beyond what a crowd needs, even under Wine on a loaded machine: only a process that
// hangs reaches it.
constexpr uint64_t kBoundMs = 300000;

enum class Mode { kUpdate, kVersion, kRatio };

// One process of a crowd: where it runs, how, and the result file its answer lands in.
struct Member {
  Mode mode;
  std::string dir;
  std::vector<std::string> args;
  std::string result;
  std::unique_ptr<testsupport::ChildProcess> process;
};

uint64_t Now() {
  return platform::SystemClock().MonotonicMs();
}

bool WaitUntil(const std::function<bool()>& condition, uint64_t deadline) {
  while (!condition()) {
    if (Now() > deadline) return false;
    platform::SystemClock().SleepMs(50);
  }
  return true;
}

void Start(const std::string& program, std::vector<Member>& crowd, Mode mode) {
  for (Member& m : crowd) {
    if (m.mode != mode) continue;
    m.process = testsupport::StartProcess(program, m.args, m.dir);
    ASSERT_NE(m.process, nullptr) << m.dir;
  }
}

// Waits for every member until the deadline; one still running then has hung: it is killed
// and named.
void WaitForAll(std::vector<Member>& crowd, uint64_t deadline) {
  auto running = [](Member& m) { return m.process && m.process->Running(); };
  WaitUntil([&] { return std::none_of(crowd.begin(), crowd.end(), running); }, deadline);
  for (Member& m : crowd) {
    if (!running(m)) continue;
    ADD_FAILURE() << "still running at the bound: " << m.dir;
    m.process->Kill();
  }
  for (Member& m : crowd) {
    if (m.process) {
      EXPECT_EQ(m.process->Wait(), 0) << m.dir;
    }
  }
}

// Interleaved, as a crowd of managers would start them.
Mode ModeOf(int n) {
  return n % 3 == 0 ? Mode::kUpdate : n % 3 == 1 ? Mode::kVersion : Mode::kRatio;
}

// What the members of one mode answered.
struct Answers {
  std::vector<std::string> codes;
  std::vector<const Member*> completed;
  int Count(const std::string& code) const {
    return static_cast<int>(std::count(codes.begin(), codes.end(), code));
  }
};

// Reads every answer of the mode; each must parse, and be one of allowed.
Answers Collect(const std::vector<Member>& crowd, Mode mode, const std::vector<std::string>& allowed) {
  Answers answers;
  for (const Member& m : crowd) {
    if (m.mode != mode) continue;
    const testsupport::ResultTree tree = ReadResultFile(m.result);
    EXPECT_TRUE(tree.parsed) << m.result << ": " << testsupport::ReadFileOrEmpty(m.result);
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), tree.resultCode), allowed.end())
        << m.result << ": " << tree.resultCode;
    if (tree.resultCode == "Complete") answers.completed.push_back(&m);
    if (tree.resultCode == "OK" && mode == Mode::kRatio) {
      const int ratio = std::atoi(tree.data.c_str());
      EXPECT_TRUE(ratio >= 0 && ratio <= 100) << tree.data;
    }
    if (tree.resultCode == "OK" && mode == Mode::kVersion) {
      EXPECT_TRUE(tree.hasCmp) << m.result;
    }
    answers.codes.push_back(tree.resultCode);
  }
  return answers;
}

// The number after key, the first one following anchor in text (whitespace ignored); -1 if none.
long NumberAfter(std::string text, const std::string& anchor, const std::string& key) {
  text.erase(
      std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n' || c == '\r'; }),
      text.end());
  const size_t at = text.find(anchor);
  const size_t k = at == std::string::npos ? at : text.find(key, at);
  return k == std::string::npos ? -1 : std::strtol(text.c_str() + k + key.size(), nullptr, 10);
}

int LinesStartingWith(const std::vector<std::string>& lines, const std::string& start) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [&](const std::string& l) { return l.rfind(start, 0) == 0; }));
}

// Two simulated BMCs: one for veltrop holding a repository captured from a real server, one
// dual-bank for Korvane running an older firmware. Each member of a crowd answers into a
// directory of its own, so that every answer can be read.
class Crowds : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunProcess(BMCSIM_TOOL, {"init", sdrBmc, "--product-id", "0x0100"}, dir.path()), 0);
    ASSERT_EQ(
        RunProcess(BMCSIM_TOOL, {"load-sdr", sdrBmc, JoinPath(BMC_REAL_SDR_DIR, "server07.bin")}, dir.path()),
        0);
    std::string sdr;
    ASSERT_TRUE(platform::ReadWholeFile(JoinPath(BMC_EXAMPLES_DIR, "bmcsdr_v2.sdr"), &sdr));
    testsupport::WriteFile(sdrFile, sdr);

    // Korvane keeps its logs, image, hardware list and progress file beside itself.
    ASSERT_TRUE(platform::MakeDirectory(prog));
    korvane = JoinPath(prog, std::filesystem::path(KORVANE_SIM).filename().string());
    std::filesystem::copy_file(KORVANE_SIM, korvane);
    testsupport::WriteFile(JoinPath(prog, "mchk_fil"), "supported: 0100\n");
    image.resize(0x18000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 31 + (i >> 8));
    testsupport::WriteFile(JoinPath(prog, "bmcfw.bin"), image);
    ASSERT_EQ(RunProcess(BMCSIM_TOOL,
                         {"init", fwBmc, "--product-id", "0x0100", "--device-id", "0x38", "--fw-rev", "02.30",
                          "--bank-size", "0x80000"},
                         dir.path()),
              0);
  }

  // A package directory each (ExUpInfo.xml, mchk_fil); a ratio query runs one level below an
  // update's package, where it finds that update's progress file.
  std::vector<Member> VeltropCrowd() {
    std::vector<Member> crowd;
    for (int n = 0; n < kCrowd; ++n) {
      Member m{ModeOf(n), Package("v" + std::to_string(n)), {}, {}, nullptr};
      switch (m.mode) {
        case Mode::kUpdate:
          m.args = {"-update", "-force", "-sdr", sdrFile};
          m.result = JoinPath(m.dir, "Update_force.xml");
          break;
        case Mode::kVersion:
          m.args = {"-version", "-sdr", sdrFile};
          m.result = JoinPath(m.dir, "Get_version.xml");
          break;
        case Mode::kRatio:
          m.dir = JoinPath(crowd[n - 2].dir, "ratio");
          EXPECT_TRUE(platform::MakeDirectory(m.dir));
          m.args = {"-ratio"};
          m.result = JoinPath(crowd[n - 2].dir, "Get_ratio.xml");
          break;
      }
      crowd.push_back(std::move(m));
    }
    return crowd;
  }

  // The current directory each, where the answer lands; the program directory is shared.
  std::vector<Member> KorvaneCrowd() {
    std::vector<Member> crowd;
    for (int n = 0; n < kCrowd; ++n) {
      Member m{ModeOf(n), Package("k" + std::to_string(n)), {}, {}, nullptr};
      const char* names[] = {"Update_force.xml", "Get_version.xml", "Get_ratio.xml"};
      const char* switches[] = {"-force", "-version", "-ratio"};
      m.args = {switches[static_cast<int>(m.mode)]};
      m.result = JoinPath(m.dir, names[static_cast<int>(m.mode)]);
      crowd.push_back(std::move(m));
    }
    return crowd;
  }

  std::string Package(const std::string& name) {
    const std::string path = JoinPath(dir.path(), name);
    EXPECT_TRUE(platform::MakeDirectory(path));
    testsupport::WriteFile(JoinPath(path, "ExUpInfo.xml"), "<ExUpInfo><version>02.40</version></ExUpInfo>\n");
    testsupport::WriteFile(JoinPath(path, "mchk_fil"), "supported: 0100\n");
    return path;
  }

  std::string Show(const std::string& bmc) {
    const std::string out = JoinPath(dir.path(), "show.json");
    RunProcess(BMCSIM_TOOL, {"show", bmc}, dir.path(), out);
    return testsupport::ReadFileOrEmpty(out);
  }

  std::vector<std::string> ExchangeLog(const std::string& bmc) {
    const std::string out = JoinPath(dir.path(), "log.txt");
    RunProcess(BMCSIM_TOOL, {"log", bmc}, dir.path(), out);
    std::vector<std::string> lines;
    std::string text = testsupport::ReadFileOrEmpty(out);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }

  testsupport::TempDir dir;
  std::string sdrBmc = JoinPath(dir.path(), "sdr-bmc");
  std::string fwBmc = JoinPath(dir.path(), "fw-bmc");
  std::string sdrFile = JoinPath(dir.path(), "new.sdr");
  std::string prog = JoinPath(dir.path(), "prog");
  std::string korvane;
  std::string image;
};

// Fifty of each program at once, each crowd against one BMC (both crowds side by side, which
// also keeps the wall time near one SDR update's 40 s). Exactly one update of each runs; the
// refused updates answer "Duplex", version queries during an update "Busy", ratio queries
// the progress or "No-Command"; nobody hangs and every answer parses.
TEST_F(Crowds, FiftyOfEachProgramAtOnceRunExactlyOneUpdateEach) {
  const uint64_t deadline = Now() + kBoundMs;
  std::vector<Member> sdr = VeltropCrowd();
  std::vector<Member> fw = KorvaneCrowd();

  // A veltrop version query only tests the lock; the whole crowd starts at once.
  testsupport::SetEnvironment("BMCSIM_DIR", sdrBmc);
  for (Member& m : sdr) {
    m.process = testsupport::StartProcess(VELTROP_SIM, m.args, m.dir);
    ASSERT_NE(m.process, nullptr);
  }

  // A Korvane version query holds the lock as an update does: one that came first would
  // rightly keep the updates out. The queries start once an update holds it.
  testsupport::SetEnvironment("BMCSIM_DIR", fwBmc);
  Start(korvane, fw, Mode::kUpdate);
  ASSERT_TRUE(
      WaitUntil([&] { return platform::FileReadable(JoinPath(prog, "Get_ratio.xml_tmp")); }, deadline));
  Start(korvane, fw, Mode::kVersion);
  Start(korvane, fw, Mode::kRatio);

  WaitForAll(fw, deadline);
  WaitForAll(sdr, deadline);

  const Answers sdrUpdates = Collect(sdr, Mode::kUpdate, {"Complete", "Duplex"});
  EXPECT_EQ(sdrUpdates.Count("Complete"), 1);
  // A veltrop query that tested the lock before the update took it reads the repository, and
  // yields (SDR030) when the update's reservation cancels its own.
  Collect(sdr, Mode::kVersion, {"Busy", "OK", "SDR030"});
  const Answers sdrRatios = Collect(sdr, Mode::kRatio, {"OK", "No-Command"});
  for (const Member& m : sdr) {
    // Only a query beside the update that ran can have seen progress.
    if (m.mode == Mode::kRatio && ReadResultFile(m.result).resultCode == "OK") {
      ASSERT_EQ(sdrUpdates.completed.size(), 1u);
      EXPECT_EQ(platform::DirectoryOf(m.result), sdrUpdates.completed[0]->dir);
    }
  }
  // The spared repository was taken and committed once.
  const std::vector<std::string> exchanges = ExchangeLog(sdrBmc);
  EXPECT_EQ(LinesStartingWith(exchanges, "F8 10 00 ->"), 1);
  EXPECT_EQ(LinesStartingWith(exchanges, "F8 10 02 ->"), 1);
  testsupport::SetEnvironment("BMCSIM_DIR", sdrBmc);
  const std::string after = Package("after");
  EXPECT_EQ(RunProcess(VELTROP_SIM, {"-version", "-sdr", sdrFile}, after), 0);
  EXPECT_EQ(ReadResultFile(JoinPath(after, "Get_version.xml")).cmp, "Even");

  // Korvane: the image written once into bank 2 past the kept boot block, channel 2 back on.
  const Answers fwUpdates = Collect(fw, Mode::kUpdate, {"Complete", "Duplex"});
  EXPECT_EQ(fwUpdates.Count("Complete"), 1);
  Collect(fw, Mode::kVersion, {"Busy"});
  Collect(fw, Mode::kRatio, {"OK"});
  const std::string state = Show(fwBmc);
  EXPECT_EQ(NumberAfter(state, "\"bank\":2", "\"bytes_written\":"), 0x8000) << state;
  EXPECT_EQ(NumberAfter(state, "\"bank\":1", "\"bytes_written\":"), 0) << state;
  EXPECT_EQ(NumberAfter(state, "\"volatile\":", "\"access\":"), 0x22) << state;
  const auto log = testsupport::ReadLogTexts(JoinPath(prog, "Korvane_log.txt"));
  EXPECT_EQ(std::count(log.begin(), log.end(), "BMCFW update was completed."), 1);
}

// A killed update (SIGKILL, TerminateProcess: nothing of its own runs) leaves no lock behind:
// the next run takes it.
TEST_F(Crowds, KilledUpdatesLeaveLocksTheNextRunTakes) {
  const uint64_t deadline = Now() + kBoundMs;
  const std::string sdrPackage = Package("v");
  const std::string fwPackage = Package("k");
  testsupport::SetEnvironment("BMCSIM_DIR", sdrBmc);
  auto sdrUpdate = testsupport::StartProcess(VELTROP_SIM, {"-update", "-force", "-sdr", sdrFile}, sdrPackage);
  testsupport::SetEnvironment("BMCSIM_DIR", fwBmc);
  auto fwUpdate = testsupport::StartProcess(korvane, {"-force"}, fwPackage);
  ASSERT_NE(sdrUpdate, nullptr);
  ASSERT_NE(fwUpdate, nullptr);
  // The progress file is written once the lock is held.
  ASSERT_TRUE(
      WaitUntil([&] { return platform::FileReadable(JoinPath(sdrPackage, "Get_ratio.xml_tmp")); }, deadline));
  ASSERT_TRUE(
      WaitUntil([&] { return platform::FileReadable(JoinPath(prog, "Get_ratio.xml_tmp")); }, deadline));
  sdrUpdate->Kill();
  fwUpdate->Kill();

  // A backup needs veltrop's lock for its whole run; a Korvane version query needs Korvane's.
  testsupport::SetEnvironment("BMCSIM_DIR", sdrBmc);
  EXPECT_EQ(RunProcess(VELTROP_SIM, {"-backup", "after.bak"}, sdrPackage), 0);
  const auto sdrLog = testsupport::ReadLogTexts(JoinPath(sdrPackage, "veltrop.log"));
  EXPECT_NE(std::find(sdrLog.begin(), sdrLog.end(), "SDR backup complete."), sdrLog.end());
  testsupport::SetEnvironment("BMCSIM_DIR", fwBmc);
  EXPECT_EQ(RunProcess(korvane, {"-version"}, fwPackage), 0);
  const testsupport::ResultTree version = ReadResultFile(JoinPath(fwPackage, "Get_version.xml"));
  EXPECT_EQ(version.resultCode, "OK");
  EXPECT_EQ(version.version, "02.30");
}

}  // namespace
