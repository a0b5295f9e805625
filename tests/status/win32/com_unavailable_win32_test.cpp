#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/files.h"
#include "platform/testing/memory_console.h"
#include "status/xml_document.h"
#include "status/result_files.h"
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

// What follows (the "Initilaize error" exit) is the program's; the writer only says so, silently.
TEST(ComUnavailable, WriterAnswersUnavailableAndWritesNothing) {
  testsupport::TempDir dir;
  platform::MemoryConsole console;
  ResultFiles files(console);
  files.placement.resultPrefix = dir.path() + "\\";
  XmlSaveResult saved = XmlSaveResult::kSaved;
  InMultithreadedApartment([&] { saved = files.Write(ResultKind::NormalResult, "OK", "", ""); });
  EXPECT_EQ(saved, XmlSaveResult::kUnavailable);
  EXPECT_EQ(console.Output(), "");
  EXPECT_FALSE(platform::FileReadable(dir.File("Update_normal.xml")));
}

TEST(ComUnavailable, ReaderAnswersUnavailable) {
  testsupport::TempDir dir;
  testsupport::ScopedCurrentDir cwd(dir.path());
  testsupport::WriteFile(dir.File("ExUpInfo.xml"), "<a><version>01.05</version></a>");
  XmlTextResult result = XmlTextResult::kFound;
  std::string text;
  platform::MemoryConsole console;
  InMultithreadedApartment([&] { result = ReadFirstElementText("ExUpInfo.xml", "version", &text, console); });
  EXPECT_EQ(result, XmlTextResult::kUnavailable);
}

}  // namespace
}  // namespace status
