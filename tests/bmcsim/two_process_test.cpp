// Two bmcsim processes exchanging with one BMC at the same time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <thread>

#include "bmcsim/store/bmc_directory.h"
#include "platform/files.h"
#include "platform/testing/virtual_clock.h"
#include "tests/bmcsim/model_bench.h"
#include "tests/support/temp_dir.h"

namespace bmcsim {
namespace {

// The build hands a Unix path to the Windows tests too; under Wine Z: is the Unix root.
std::string NativePath(std::string path) {
  if (platform::PathSeparator() != '\\') return path;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ShellCommand(const std::string& dir, int repeat, const std::string& output) {
  std::string command = "\"" + NativePath(BMCSIM_TOOL_PATH) + "\" send \"" + dir + "\" 28 22 --repeat " +
                        std::to_string(repeat) + " > \"" + output + "\"";
  // cmd.exe drops the outermost quotes of a command that starts with one.
  return platform::PathSeparator() == '\\' ? "\"" + command + "\"" : command;
}

TEST(TwoProcesses, ReservationsFromBothAreAllDistinct) {
  testsupport::TempDir temp;
  std::string dir = temp.File("bmc");
  platform::VirtualClock clock;
  std::string error;
  ASSERT_TRUE(BmcDirectory(dir).Initialize(FreshState({}, {}, clock), &error)) << error;

  const int kEach = 250;
  int status[2] = {-1, -1};
  std::string output[2] = {temp.File("first.txt"), temp.File("second.txt")};
  std::thread first([&] { status[0] = std::system(ShellCommand(dir, kEach, output[0]).c_str()); });
  std::thread second([&] { status[1] = std::system(ShellCommand(dir, kEach, output[1]).c_str()); });
  first.join();
  second.join();
  for (int i = 0; i < 2; ++i) {
    std::string text = testsupport::ReadFileOrEmpty(output[i]);
    EXPECT_EQ(status[i], 0) << text.substr(0, 2000);
    EXPECT_EQ(text.find("status"), std::string::npos) << "a transport failure";
  }

  // Every reservation built on the one before it: a lost update would hand out an ID twice.
  BmcDirectory bmc(dir);
  BmcState state;
  ASSERT_TRUE(bmc.Read(&state, &error)) << error;
  EXPECT_EQ(state.lastReservationId, 2 * kEach);
  std::string log;
  ASSERT_TRUE(bmc.ReadLog(&log, false, &error));
  std::istringstream lines(log);
  std::string line;
  std::set<std::string> ids;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_EQ(line.rfind("28 22 -> 2C 22 00 ", 0), 0u) << line;
    ids.insert(line.substr(18));
  }
  EXPECT_EQ(count, 2 * kEach);
  EXPECT_EQ(ids.size(), static_cast<size_t>(2 * kEach));
}

}  // namespace
}  // namespace bmcsim
