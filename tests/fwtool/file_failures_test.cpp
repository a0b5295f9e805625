#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/fwtool/korvane_fixture.h"
#include "tests/support/file_faults.h"

namespace korvane {
namespace {

using platform::JoinPath;
using testsupport::FileFault;

bool ResultIs(const std::string& path, const char* code) {
  const auto tree = testsupport::ReadResultFile(path);
  return tree.parsed && tree.resultCode == code;
}

// A file Korvane writes and the run that writes it: result files in the current directory
// (work/), the progress file and the logs beside the program (prog/).
struct Target {
  const char* what;
  std::vector<std::string> args;
  const char* dir;
  const char* name;
  const char* log;
  const char* refusal;  // the file as the run names it follows
  std::function<bool(const std::string& path)> written;
};

const std::vector<Target>& Targets() {
  static const std::vector<Target> targets = {
      {"update result",
       {"-force"},
       "work",
       "Update_force.xml",
       "Korvane_log.txt",
       "Result file save error.(",
       [](const std::string& path) { return ResultIs(path, "Complete"); }},
      {"progress file",
       {"-force"},
       "prog",
       "Get_ratio.xml_tmp",
       "Korvane_log.txt",
       "Result file save error.(",
       [](const std::string& path) { return !platform::FileReadable(path); }},
      {"version result",
       {"-version"},
       "work",
       "Get_version.xml",
       "Korvane_log1.txt",
       "Result file save error.(",
       [](const std::string& path) { return ResultIs(path, "OK"); }},
      {"ratio answer",
       {"-ratio"},
       "work",
       "Get_ratio.xml",
       "Korvane_log1.txt",
       "Result file save error.(",
       [](const std::string& path) { return ResultIs(path, "OK"); }},
  };
  return targets;
}

// Every file Korvane writes, with the fault in its way, each case with a program directory and
// a package of its own against a fresh dual-bank BMC.
class FileFailures : public KorvaneFixture {
 protected:
  void WithFault(FileFault fault) {
    // Past the kept boot block, a little to write.
    const std::vector<uint8_t> bytes = WriteImage(0x10000 + 0x800);
    const std::string image(bytes.begin(), bytes.end());
    for (size_t n = 0; n < Targets().size(); ++n) {
      const Target& t = Targets()[n];
      SCOPED_TRACE(t.what);
      const std::string root = dir.File("case" + std::to_string(n));
      const std::string prog = JoinPath(root, "prog");
      const std::string work = JoinPath(root, "work");
      std::filesystem::create_directories(prog);
      std::filesystem::create_directories(work);
      std::filesystem::copy_file(Prog("mchk_fil"), JoinPath(prog, "mchk_fil"));
      testsupport::WriteFile(JoinPath(prog, "bmcfw.bin"), image);
      std::filesystem::copy_file(Work("ExUpInfo.xml"), JoinPath(work, "ExUpInfo.xml"));
      // An update in progress, for the ratio query.
      testsupport::WriteFile(JoinPath(prog, "Get_ratio.xml_tmp"),
                             "<?xml version='1.0'?>\n<Response><result_code>OK</result_code><data>40</data>"
                             "</Response>\n");
      Machine(0x38);

      const std::string program = JoinPath(prog, "Korvane");
      const std::string path = JoinPath(JoinPath(root, t.dir), t.name);
      // The run names its result files as they lie in the current directory.
      const std::string named = std::string(t.dir) == "work" ? t.name : path;
      testsupport::FileUnderTest file{path, JoinPath(prog, t.log), t.refusal + named + ")", "", t.written};
      file.removedAtEnd = std::string(t.name) == "Get_ratio.xml_tmp";
      const std::string notStaged = testsupport::RunWithFault(fault, file, [&] {
        testsupport::ScopedCurrentDir in(work);
        return RunAs(program, t.args);
      });
      if (!notStaged.empty()) GTEST_SKIP() << notStaged;
    }
  }
};

TEST_F(FileFailures, FullDisk) {
  WithFault(FileFault::kDiskFull);
}

TEST_F(FileFailures, DirectoryAtTheName) {
  WithFault(FileFault::kDirectory);
}

// Skipped only where nothing keeps files out of a directory (Windows, where the read-only
// attribute of a directory does not); root's override is dropped for the run.
TEST_F(FileFailures, ReadOnlyDirectory) {
  WithFault(FileFault::kReadOnlyDirectory);
}

TEST_F(FileFailures, LinkAtTheName) {
  WithFault(FileFault::kLinkAtName);
}

TEST_F(FileFailures, LinksPlantedAtTemporaryNames) {
  WithFault(FileFault::kLinkAtTemporary);
}

}  // namespace
}  // namespace korvane
