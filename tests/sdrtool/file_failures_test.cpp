#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "sdrtool/sdr_run.h"
#include "tests/sdrtool/program_test_support.h"
#include "tests/sdrtool/veltrop_fixture.h"
#include "tests/support/file_faults.h"

namespace veltrop {
namespace {

using platform::JoinPath;
using testsupport::FileFault;

constexpr const char* kBmcVersion = "S2025061800001.20";

bool ResultIs(const std::string& path, const char* code) {
  const auto tree = testsupport::ReadResultFile(path);
  return tree.parsed && tree.resultCode == code;
}

// The log line of a result file that could not be written, as the run names it: beside the
// package's ExUpInfo.xml one level up.
std::string SaveError(const char* name) {
  return std::string("Result file save error.(") + platform::ParentPrefix() + name + ")";
}

// A file veltrop writes and the run that writes it. The package lies in pkg/ (ExUpInfo.xml,
// result and progress files), the run in pkg/sdr/ (logs, version cache); backups go to out/.
struct Target {
  const char* what;
  std::vector<std::string> args;  // "OUT/" stands for the out/ directory
  const char* dir;
  const char* name;
  const char* log;
  std::string refusal;
  const char* claim;
  std::function<bool(const std::string& path)> written;
};

const std::vector<Target>& Targets() {
  static const std::vector<Target> targets = {
      {"update result",
       {"-update", "-force", "-sdr", "new.sdr"},
       "pkg",
       "Update_force.xml",
       kMainLog,
       SaveError("Update_force.xml"),
       "",
       [](const std::string& path) { return ResultIs(path, "Complete"); }},
      {"progress file",
       {"-update", "-force", "-sdr", "new.sdr"},
       "pkg",
       "Get_ratio.xml_tmp",
       kMainLog,
       SaveError("Get_ratio.xml_tmp"),
       "",
       [](const std::string& path) { return !platform::FileReadable(path); }},
      {"version result",
       {"-version", "-sdr", "new.sdr"},
       "pkg",
       "Get_version.xml",
       kVersionLog,
       SaveError("Get_version.xml"),
       "",
       [](const std::string& path) { return ResultIs(path, "OK"); }},
      {"ratio answer",
       {"-ratio"},
       "pkg",
       "Get_ratio.xml",
       kRatioLog,
       SaveError("Get_ratio.xml"),
       "",
       [](const std::string& path) { return ResultIs(path, "OK"); }},
      {"backup",
       {"-backup", "OUT/x.bak"},
       "out",
       "x.bak",
       kMainLog,
       "Error, ",
       "SDR backup complete.",
       [](const std::string& path) { return testsupport::ReadFileOrEmpty(path).rfind("QYX IPMI", 0) == 0; }},
      {"version cache",
       {"-version", "-sdr", "new.sdr"},
       "pkg/sdr",
       "sdrversion_HW",
       kVersionLog,
       "Version cache save error.(sdrversion_HW)",
       "",
       [](const std::string& path) {
         return testsupport::ReadFileOrEmpty(path).find(kBmcVersion) != std::string::npos;
       }},
  };
  return targets;
}

// Every file veltrop writes, with the fault in its way, each in a package tree of its own
// against a BMC holding the same repository.
class FileFailures : public VeltropFixture {
 protected:
  void WithFault(FileFault fault) {
    for (size_t n = 0; n < Targets().size(); ++n) {
      const Target& t = Targets()[n];
      SCOPED_TRACE(t.what);
      const std::string root = File("case" + std::to_string(n));
      const std::string sdr = Prepare(root);
      std::vector<std::string> args = t.args;
      for (std::string& a : args) {
        if (a.rfind("OUT/", 0) == 0) a = JoinPath(JoinPath(root, "out"), a.substr(4));
      }
      testsupport::FileUnderTest file{JoinPath(JoinPath(root, t.dir), t.name), JoinPath(sdr, t.log),
                                      t.refusal, t.claim, t.written};
      file.removedAtEnd = std::string(t.name) == "Get_ratio.xml_tmp";
      const std::string notStaged = testsupport::RunWithFault(fault, file, [&] {
        testsupport::ScopedCurrentDir in(sdr);
        return Run(args);
      });
      if (!notStaged.empty()) GTEST_SKIP() << notStaged;
    }
  }

  // The package tree under root; returns the run's directory.
  std::string Prepare(const std::string& root) {
    const std::string pkg = JoinPath(root, "pkg");
    const std::string sdr = JoinPath(pkg, "sdr");
    std::filesystem::create_directories(sdr);
    std::filesystem::create_directories(JoinPath(root, "out"));
    testsupport::WriteFile(JoinPath(pkg, "ExUpInfo.xml"), "<ExUpInfo><version>1.00</version></ExUpInfo>\n");
    // An update in progress, for the ratio query.
    testsupport::WriteFile(JoinPath(pkg, "Get_ratio.xml_tmp"),
                           "<?xml version='1.0'?>\n<Response><result_code>OK</result_code><data>40</data>"
                           "</Response>\n");
    testsupport::WriteFile(JoinPath(sdr, "mchk_fil"), "Board 0100 rev A\n");
    std::vector<testsupport::Record> records = programtest::MakeRecords(3, 7);
    records.push_back(programtest::VersionRecord("S2026120700001.50"));
    testsupport::WriteFile(JoinPath(sdr, "new.sdr"), programtest::SdrText(records));
    std::vector<testsupport::Record> held = programtest::MakeRecords(4);
    held.push_back(programtest::VersionRecord(kBmcVersion));
    held.back()[0] = 0x40;  // a record ID of its own
    bmc.LoadRecords(held);
    return sdr;
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
}  // namespace veltrop
