#include <windows.h>
#include <objbase.h>
#include <wbemcli.h>

#include <gtest/gtest.h>

#include <thread>

#include "platform/testing/virtual_clock.h"
#include "transport/wmi_driver.h"

namespace transport {
namespace {

WmiPathOpening OpenWithoutAProgram() {
  static platform::VirtualClock clock;
  WmiPathSetup setup;
  setup.log = [](const std::string&) {};
  setup.clock = &clock;
  return OpenMicrosoftIpmiDriver(setup);
}

// Wine has WMI and root\WMI but no Microsoft IPMI driver: the COM code runs up to the class.
TEST(MicrosoftIpmiDriverWin32, AbsentClassMeansNotPresentAndLeavesNoComBehind) {
  for (int open = 0; open < 2; ++open) {
    const WmiPathOpening opening = OpenWithoutAProgram();
    EXPECT_EQ(opening.presence, WmiPresence::kNotPresent);
    EXPECT_EQ(opening.failedStep, WmiOpenStep::kClassObject);
    EXPECT_EQ(opening.hresult, static_cast<int32_t>(WBEM_E_NOT_FOUND));
    EXPECT_FALSE(opening.driver);
    // A thread left in the apartment the open chose could not pick another.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(hr, S_OK);
    if (SUCCEEDED(hr)) CoUninitialize();
  }

  // On a thread already in the multithreaded apartment, its own initialisation stays.
  std::thread thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(OpenWithoutAProgram().failedStep, WmiOpenStep::kClassObject);
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(hr, S_FALSE);
    if (SUCCEEDED(hr)) CoUninitialize();
    CoUninitialize();
  });
  thread.join();
}

}  // namespace
}  // namespace transport
