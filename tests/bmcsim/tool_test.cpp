// The bmcsim command line, run in-process.
#include "bmcsim/tool/bmcsim_tool.h"

#include <gtest/gtest.h>

#include "bmcsim/store/bmc_directory.h"
#include "platform/files.h"
#include "platform/testing/virtual_clock.h"
#include "tests/bmcsim/model_bench.h"
#include "tests/support/temp_dir.h"

namespace bmcsim {
namespace {

using testsupport::ReadFileOrEmpty;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string RealSdrPath(const std::string& name) {
  return platform::JoinPath(BMCSIM_REAL_SDR_DIR, name);
}

class ToolTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    out.clear();
    err.clear();
    return RunTool(args, clock, &out, &err);
  }
  void RunOk(const std::vector<std::string>& args) { ASSERT_EQ(Run(args), 0) << err; }
  BmcState State() {
    BmcState state;
    std::string error;
    EXPECT_TRUE(BmcDirectory(dir).Read(&state, &error)) << error;
    return state;
  }

  TempDir temp;
  std::string dir = temp.File("bmc");
  platform::VirtualClock clock;
  std::string out;
  std::string err;
};

TEST_F(ToolTest, RealRepositoriesLoadAndExportByteIdentical) {
  RunOk({"init", dir});
  for (int i = 1; i <= 12; ++i) {
    std::string name = std::string("server") + (i < 10 ? "0" : "") + std::to_string(i) + ".bin";
    RunOk({"load-sdr", dir, RealSdrPath(name)});
    RunOk({"export-sdr", dir, temp.File("out.bin")});
    std::string original = ReadFileOrEmpty(RealSdrPath(name));
    ASSERT_FALSE(original.empty()) << name;
    EXPECT_TRUE(ReadFileOrEmpty(temp.File("out.bin")) == original) << name;
  }
}

TEST_F(ToolTest, LoadingMovesBothTimestamps) {
  RunOk({"init", dir});
  BmcState before = State();
  RunOk({"load-sdr", dir, RealSdrPath("server12.bin")});
  BmcState after = State();
  EXPECT_GT(after.active.eraseStamp, before.active.eraseStamp);
  EXPECT_GT(after.active.additionStamp, after.active.eraseStamp);
  EXPECT_EQ(after.active.records.size(), 46u);
}

TEST_F(ToolTest, BadInputIsRefusedInOneLineAndChangesNothing) {
  RunOk({"init", dir});
  RunOk({"load-sdr", dir, RealSdrPath("server12.bin")});
  std::string real = ReadFileOrEmpty(RealSdrPath("server12.bin"));
  WriteFile(temp.File("cut.bin"), real.substr(0, real.size() - 3));
  WriteFile(temp.File("header.bin"), real.substr(0, 3));
  std::string duplicate = real.substr(0, 5u + static_cast<uint8_t>(real[4]));
  WriteFile(temp.File("twice.bin"), duplicate + duplicate);
  auto stateFiles = [&] {
    return ReadFileOrEmpty(platform::JoinPath(dir, "state-a.bin")) + "|" +
           ReadFileOrEmpty(platform::JoinPath(dir, "state-b.bin"));
  };
  std::string stateBefore = stateFiles();
  std::vector<std::vector<std::string>> cases = {
      {"frobnicate", dir},
      {"show"},
      {"init", dir, "--device-id", "256"},
      {"init", dir, "--device-id", "12x"},
      {"init", dir, "--fw-rev", "1.2.3"},
      {"init", dir, "--product-id"},
      {"init", dir, "--no-aux", "--aux", "01020304"},
      {"init", dir, "--colour", "red"},
      {"set", dir, "--capacity", "100"},  // below the records in use
      {"load-sdr", dir, temp.File("missing.bin")},
      {"load-sdr", dir, temp.File("cut.bin")},
      {"load-sdr", dir, temp.File("header.bin")},
      {"load-sdr", dir, temp.File("twice.bin")},
      {"export-sdr", dir, temp.File("x.bin"), "--spared"},  // no lock held
      {"fault", dir, "add", "netfn=0x0a", "cmd=0x23"},
      {"fault", dir, "remove"},
      {"latency", dir, "-5"},
      {"log", dir, "--all"},
      {"send", dir, "1"},
      {"send", dir, "18", "01", "--repeat", "0"},
      {"send", temp.File("nothing"), "18", "01"},
      {"init", dir, "--flash-chip", "5"},
      {"init", dir, "--flash-chip", "any"},
      {"init", dir, "--running-bank", "2"},  // the default device ID has one bank
      {"init", dir, "--device-id", "0x38", "--running-bank", "3"},
      {"init", dir, "--bank-size", "0x12345"},
      {"init", dir, "--bank-size", "0"},
      {"init", dir, "--channel2", "0x40,4"},
      {"init", dir, "--channel2", "0x22"},
      {"init", dir, "--channel2", "0x22,4", "--channel2-volatile", "0,4"},
      {"set", dir, "--bank-size", "0x10000"},  // init only
      {"set", dir, "--image-selector", "2"},
      {"reset", dir, "--fw-rev"},
      {"reset", dir, "--device-id", "0x38"},
      {"reset", dir, "--boot-ms", "3600001"},
      {"reset", dir, "--boot-ms", "5", "--boot-ms", "6"},
      {"export-flash", dir},
      {"export-flash", dir, temp.File("x.bin"), "--bank", "2"},  // a single-bank device
      {"export-flash", dir, temp.File("x.bin"), "--length", "0x400001"},
      {"load-flash", dir, temp.File("missing.bin")},
      {"load-flash", dir, temp.File("cut.bin"), "--bank", "0"},
      {"set", dir, "--wmi", "yes"},
      {"set", dir, "--wmi", "on", "--wmi", "off"},
  };
  for (const auto& args : cases) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(Run(args), 1) << line;
    EXPECT_EQ(err.rfind("bmcsim: ", 0), 0u) << line << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << line << err;
    EXPECT_EQ(stateFiles(), stateBefore) << line;
  }
  EXPECT_EQ(ReadFileOrEmpty(platform::JoinPath(dir, "exchange.log")), "");
  EXPECT_FALSE(platform::FileReadable(temp.File("x.bin")));
}

TEST_F(ToolTest, InitOptionsShapeGetDeviceId) {
  RunOk({"init", dir, "--device-id", "0x21", "--device-rev", "2", "--fw-rev", "3.15", "--ipmi-version",
         "0x51", "--manufacturer", "0x1c4c", "--product-id", "0x3242", "--support", "0x9f", "--no-aux"});
  RunOk({"send", dir, "1801"});
  EXPECT_EQ(out, "1C 01 00 21 02 03 15 51 9F 4C 1C 00 42 32\n");
  RunOk({"set", dir, "--aux", "0A0B0C0D", "--oem-e0", "010203"});
  RunOk({"send", dir, "18", "01", "--repeat", "2"});
  EXPECT_EQ(out,
            "1C 01 00 21 02 03 15 51 9F 4C 1C 00 42 32 0A 0B 0C 0D\n"
            "1C 01 00 21 02 03 15 51 9F 4C 1C 00 42 32 0A 0B 0C 0D\n");
  RunOk({"send", dir, "F8 E0"});
  EXPECT_EQ(out, "FC E0 00 01 02 03\n");
}

TEST_F(ToolTest, CapacityAbove64KiBHoldsLargeRepositories) {
  // 1100 records of 64 bytes: 70400 bytes, more than a 16-bit length can describe.
  std::string big;
  for (int id = 1; id <= 1100; ++id) {
    SdrRecord r = WithId(MakeRecord(59, static_cast<uint8_t>(id)), static_cast<uint16_t>(id));
    big.append(r.begin(), r.end());
  }
  WriteFile(temp.File("big.bin"), big);
  RunOk({"init", dir});
  EXPECT_EQ(Run({"load-sdr", dir, temp.File("big.bin")}), 1);
  RunOk({"init", dir, "--capacity", "200000"});
  RunOk({"load-sdr", dir, temp.File("big.bin")});
  RunOk({"send", dir, "28 20"});
  EXPECT_EQ(out.substr(0, 24), "2C 20 00 51 4C 04 FE FF ");  // 1100 records, free space FFFEh and more
  RunOk({"export-sdr", dir, temp.File("again.bin")});
  EXPECT_TRUE(ReadFileOrEmpty(temp.File("again.bin")) == big);
}

TEST_F(ToolTest, FaultsLatencyLogAndShow) {
  RunOk({"init", dir, "--erase-polls", "0"});
  RunOk({"fault", dir, "add", "netfn=0x0a cmd=0x22 status=10"});
  RunOk({"fault", dir, "add", "netfn=0x0a", "cmd=0x20", "cc=0xc0"});
  RunOk({"latency", dir, "15"});
  EXPECT_EQ(Run({"send", dir, "28 22"}), 3);
  EXPECT_EQ(out, "status 10\n");
  RunOk({"send", dir, "28 20"});
  EXPECT_EQ(out, "2C 20 C0\n");
  EXPECT_EQ(clock.TotalSleptMs(), 30u);
  RunOk({"send", dir, "F8 10 00"});
  RunOk({"show", dir});
  for (const char* piece : {"\"held\": true", "\"erase_polls\": 0", "\"latency_ms\": 15", "\"spared\": {",
                            "\"netfn=0x0a cmd=0x22 count=0 status=10\"", "\"reservation\": 1"}) {
    EXPECT_NE(out.find(piece), std::string::npos) << piece << "\n" << out;
  }
  RunOk({"log", dir, "--clear"});
  EXPECT_EQ(out, "28 22 -> status 10\n28 20 -> 2C 20 C0\nF8 10 00 -> FC 10 00\n");
  RunOk({"log", dir});
  EXPECT_EQ(out, "");
  RunOk({"fault", dir, "clear"});
  EXPECT_TRUE(State().faults.empty());
}

TEST_F(ToolTest, HelpDocumentsEveryFaultEffect) {
  EXPECT_EQ(Run({"--help"}), 0);
  for (const char* effect :
       {"cc=",        "status=9",   "status=10", "length=",       "delay=",     "patch=",  "cancel",
        "skip=",      "count=",     "match=",    "--erase-polls", "--capacity", "flip=",   "--flash-chip",
        "--erase-ms", "--channel2", "reset DIR", "export-flash",  "--wmi",      "wmi=fail"}) {
    EXPECT_NE(out.find(effect), std::string::npos) << effect;
  }
}

TEST_F(ToolTest, MicrosoftDriverIsTheHostsAndKeptUntilChanged) {
  struct Step {
    std::vector<std::string> args;
    bool present;
  } steps[] = {
      {{"init", dir}, false},
      {{"init", dir, "--wmi"}, true},
      {{"set", dir, "--latency", "5"}, true},
      {{"set", dir, "--wmi", "off", "--latency", "0"}, false},
      {{"set", dir, "--wmi", "--latency", "0"}, true},
      {{"init", dir, "--wmi", "off"}, false},
      {{"set", dir, "--wmi", "on"}, true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args[0] + " " + (step.args.size() > 2 ? step.args[2] : ""));
    RunOk(step.args);
    EXPECT_EQ(State().microsoftDriver, step.present);
    RunOk({"show", dir});
    const std::string shown = std::string("\"microsoft_ipmi_driver\": ") + (step.present ? "true" : "false");
    EXPECT_NE(out.find(shown), std::string::npos) << out;
  }
}

TEST_F(ToolTest, FirmwareOptionsShapeTheAnswersAndShow) {
  RunOk({"init",
         dir,
         "--device-id",
         "0x39",
         "--flash-chip",
         "4",
         "--chip-size-code",
         "3",
         "--chip-sector-code",
         "2",
         "--running-bank",
         "2",
         "--bank-size",
         "0x80000",
         "--erase-ms",
         "250",
         "--channel2-volatile",
         "0x13,3",
         "--channel2-nonvolatile",
         "0x22,0x04"});
  struct Exchange {
    const char* request;
    const char* response;
  } exchanges[] = {
      {"20 00 04", "24 00 00 04 03 02"},
      {"20 05", "24 05 00 00 02"},
      {"20 07", "24 07 00 01 02 00 00 00 00"},  // downloading into bank 1, the one not running
      {"18 41 02 80", "1C 41 00 13 03"},
      {"18 41 02 40", "1C 41 00 22 04"},
      {"20 01 00 00 04 00", "24 01 00"},  // 256-KiB sector at 40000h
      {"20 00 04", "24 00 C0"},           // busy for 250 ms of the clock
  };
  for (const Exchange& e : exchanges) {
    RunOk({"send", dir, e.request});
    EXPECT_EQ(out, std::string(e.response) + "\n") << e.request;
  }
  clock.Advance(250);
  RunOk({"send", dir, "20 00 04"});
  EXPECT_EQ(out, "24 00 00 04 03 02\n");
  RunOk({"show", dir});
  for (const char* piece :
       {"\"channel2\": {\n    \"volatile\": {\n      \"access\": 19,\n      \"privilege\": 3\n    },\n"
        "    \"nonvolatile\": {\n      \"access\": 34,\n      \"privilege\": 4\n    }\n  }",
        "\"running_bank\": 2", "\"downloader_selector\": 1", "\"image_selector\": 2", "\"bank_size\": 524288",
        "\"flash_chip\": 4", "\"sector_size\": 262144",
        "\"bank\": 1,\n        \"start\": 0,\n        \"erases\": 1,\n        \"writes\": 0",
        "\"bank\": 2,\n        \"start\": 524288,\n        \"erases\": 0"}) {
    EXPECT_NE(out.find(piece), std::string::npos) << piece << "\n" << out;
  }
  // set keeps what it is not given; a single-bank device ID needs bank 1 running.
  EXPECT_EQ(Run({"set", dir, "--device-id", "0x30"}), 1);
  RunOk({"set", dir, "--flash-chip", "none", "--running-bank", "1", "--device-id", "0x31", "--channel2",
         "0,1"});
  BmcState state = State();
  EXPECT_FALSE(state.firmware.chip.index.has_value());
  EXPECT_EQ(state.firmware.downloaderBank, 1);
  EXPECT_EQ(state.firmware.bankSize, 0x80000u);
  EXPECT_EQ(state.firmware.chip.sectorCode, 2);
  EXPECT_EQ(state.channel2.nonVolatile.privilege, 1);
  RunOk({"show", dir});
  EXPECT_NE(out.find("\"flash_chip\": null"), std::string::npos) << out;
}

TEST_F(ToolTest, ResetAnswersNothingWhileItBootsThenRunsTheSelectedBanksImage) {
  // Each step: a command, then Get Device ID's firmware revision bytes ("status 9": no answer)
  // after the clock moved on by the given milliseconds.
  struct Step {
    std::vector<std::string> command;
    uint64_t advanceMs;
    std::string revision;
  };
  const std::vector<Step> steps = {
      {{"init", dir, "--device-id", "0x3a", "--fw-rev", "1.02", "--no-aux"}, 0, "01 02"},
      {{"send", dir, "18 40 02 80 04"}, 0, "01 02"},            // channel 2 disabled until the BMC restarts
      {{"send", dir, "F8 10 00"}, 0, "01 02"},                  // an update lock the restart drops
      {{"send", dir, "20 04 04"}, 0, "01 02"},                  // boot the downloader's bank 2, never run
      {{"fault", dir, "add", "netfn=6 cmd=1 cc=0xc0"}, 0, ""},  // the first answer after the boot
      {{"reset", dir, "--fw-rev", "02.1a", "--boot-ms", "20000"}, 0, "status 9"},
      {{"show", dir}, 19999, "status 9"},
      {{"show", dir}, 1, "C0"},  // no rule saw the requests of the boot
      {{"show", dir}, 0, "02 1A"},
      {{"reset", dir}, 0, "02 1A"},  // bank 2 again: what it ran with
      // Bank 1 written (not by load-flash) but the selector left alone: the old image comes back.
      {{"send", dir, "20 06 01"}, 0, "02 1A"},
      {{"send", dir, "20 01 00 00 01 00"}, 0, "02 1A"},
      {{"reset", dir, "--fw-rev", "03.00", "--boot-ms", "5"}, 5, "02 1A"},
      // Back to bank 1, the rewritten one: the new image runs.
      {{"send", dir, "20 06 01"}, 0, "02 1A"},
      {{"send", dir, "20 02 00 00 01 00 5A"}, 0, "02 1A"},
      {{"send", dir, "20 04 01"}, 0, "02 1A"},
      {{"reset", dir, "--fw-rev", "03.00"}, 0, "03 00"},
      // A fall-back to bank 2, untouched: what it last ran with.
      {{"send", dir, "20 04 02"}, 0, "03 00"},
      {{"reset", dir, "--fw-rev", "04.00"}, 0, "02 1A"},
  };
  for (const Step& step : steps) {
    std::string line;
    for (const auto& a : step.command) line += a + " ";
    ASSERT_EQ(Run(step.command), 0) << line << err;
    clock.Advance(step.advanceMs);
    if (step.revision.empty()) continue;
    int status = Run({"send", dir, "18", "01"});
    EXPECT_EQ(status, step.revision == "status 9" ? 3 : 0) << line;
    std::string answer = step.revision == "status 9" ? out.substr(0, 8)
                         : step.revision == "C0"     ? out.substr(6, 2)
                                                     : out.substr(15, 5);
    EXPECT_EQ(answer, step.revision) << line << out;
  }
  BmcState state = State();
  EXPECT_EQ(state.firmware.runningBank, 2);
  EXPECT_EQ(state.firmware.downloaderBank, 1);
  EXPECT_EQ(state.channel2.active.access, 0x22);
  EXPECT_FALSE(state.spared.lockHeld);
  RunOk({"show", dir});
  EXPECT_NE(out.find("\"revision\": \"03.00\",\n        \"written_since_boot\": false"), std::string::npos)
      << out;
}

TEST_F(ToolTest, FlashFilesLoadAndExportByteIdentical) {
  RunOk({"init", dir, "--device-id", "0x38", "--bank-size", "0x20000"});
  std::string image;
  for (int i = 0; i < 70000; ++i) image += static_cast<char>(i * 7 % 251);
  WriteFile(temp.File("image.bin"), image);
  RunOk({"load-flash", dir, temp.File("image.bin"), "--bank", "2"});
  RunOk({"export-flash", dir, temp.File("part.bin"), "--bank", "2", "--length", "70000"});
  EXPECT_TRUE(ReadFileOrEmpty(temp.File("part.bin")) == image);
  RunOk({"export-flash", dir, temp.File("whole.bin"), "--bank", "2"});
  EXPECT_TRUE(ReadFileOrEmpty(temp.File("whole.bin")) == image + std::string(0x20000 - image.size(), '\xFF'));
  RunOk({"export-flash", dir, temp.File("bank1.bin")});
  EXPECT_TRUE(ReadFileOrEmpty(temp.File("bank1.bin")) == std::string(0x20000, '\xFF'));
  RunOk({"send", dir, "20 03 10 11 02 00 03"});  // bank 2 starts at 20000h
  EXPECT_EQ(out,
            "24 03 00 " + wire::HexSpaced(reinterpret_cast<const uint8_t*>(image.data()) + 0x1110, 3) + "\n");
  BmcState state = State();
  EXPECT_EQ(state.firmware.activity[1].writes, 0u);  // loading is no Firmware Write
  WriteFile(temp.File("big.bin"), std::string(0x20001, 'x'));
  EXPECT_EQ(Run({"load-flash", dir, temp.File("big.bin")}), 1);
}

}  // namespace
}  // namespace bmcsim
