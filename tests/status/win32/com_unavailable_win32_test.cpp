#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/files.h"
#include "status/status_files.h"
#include "tests/status/status_test_support.h"
#include "tests/support/temp_dir.h"

namespace status {
namespace {

// A thread already in the multithreaded apartment cannot initialise COM the way the writer
// does, which is how the writer meets a COM that cannot be initialised.
template <class F>
void InMultithreadedApartment(F f) {
  std::thread t([&] {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(SUCCEEDED(hr));
    f();
    CoUninitialize();
  });
  t.join();
}

TEST(ComUnavailable, WriterPrintsInitilaizeErrorAndEndsTheProcessWithOne) {
  testsupport::TempDir dir;
  statustest::RecordingHooks rec(dir.path());
  StatusFiles files(rec.Make());
  InMultithreadedApartment([&] { files.WriteResultFile(ResultKind::NormalResult, "OK", "", ""); });
  EXPECT_EQ(rec.console.Output(), "Initilaize error\n");
  EXPECT_EQ(rec.exits, std::vector<int>{1});
  EXPECT_FALSE(platform::FileExists(dir.File("Update_normal.xml")));
}

TEST(ComUnavailable, ReaderAnswersMinusOne) {
  testsupport::TempDir dir;
  testsupport::ScopedCurrentDir cwd(dir.path());
  testsupport::WriteFile(dir.File("ExUpInfo.xml"), "<a><version>01.05</version></a>");
  int result = 0;
  char out[8] = {};
  InMultithreadedApartment([&] { result = ReadExUpInfoVersion(out, nullptr); });
  EXPECT_EQ(result, -1);
}

}  // namespace
}  // namespace status
