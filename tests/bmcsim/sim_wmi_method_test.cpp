// The simulated machine's Microsoft IPMI driver: the provider behind the WMI path, and how the
// BMC's fault rules show through it.
#include "transport/sim/sim_wmi_method.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "bmcsim/store/bmc_directory.h"
#include "platform/testing/virtual_clock.h"
#include "tests/support/ipmi_request.h"
#include "tests/support/sim_bmc.h"
#include "tests/support/temp_dir.h"
#include "transport/sim/sim_driver.h"
#include "wire/hex_text.h"

namespace transport {
namespace {

const std::wstring kPath = IpmiInstancePath(L"ROOT\\SYSTEM\\0001_0");
const DriverWaits kWaits{15000000, 15000000, 10000000};

WmiInParameters In(const wire::Bytes& request) {
  WmiInParameters in;
  EXPECT_TRUE(BuildInParameters(request.data(), static_cast<uint8_t>(request.size()), kWaits, &in));
  return in;
}

class SimulatedWmi : public ::testing::Test {
 protected:
  SimulatedWmi() {
    bmc.Init();
    bmc.SetMicrosoftDriver(true);
  }
  // One call with these in-parameters; false when the call failed.
  bool Call(WmiIpmiMethod& method, const WmiInParameters& in, WmiAnswer* answer,
            const std::wstring& path = kPath) {
    EXPECT_EQ(method.Prepare(in).outcome, PrepareOutcome::kPrepared);
    const bool called = method.Call(path, answer);
    method.EndRequest();
    return called;
  }
  bool LockHeld() const { return bmc.LockHeld(); }

  testsupport::TempDir temp;
  testsupport::SimBmc bmc{temp.File("bmc")};
  platform::VirtualClock clock;
};

TEST_F(SimulatedWmi, OpenerFindsTheDriverOnlyOnAMachineThatHasIt) {
  WmiPathSetup setup;
  setup.clock = &clock;
  struct Case {
    const char* name;
    std::function<void()> prepare;
    WmiPresence presence;
  } cases[] = {
      {"no simulated BMC", [&] {}, WmiPresence::kNotPresent},
      {"without the driver", [&] { bmc.SetMicrosoftDriver(false); }, WmiPresence::kNotPresent},
      {"with the driver", [&] {}, WmiPresence::kPresent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.prepare();
    const std::string dir = std::string(c.name) == "no simulated BMC" ? temp.File("none") : bmc.dir();
    WmiPathOpening opening = MakeSimulatedWmiOpener(dir, clock)(setup);
    EXPECT_EQ(opening.presence, c.presence);
    if (!opening.driver) {
      EXPECT_EQ(opening.failedStep, WmiOpenStep::kClassObject);
      bmc.SetMicrosoftDriver(true);
      continue;
    }
    // The SDR tool's policy answers with the response network function.
    IpmiResponse response;
    ASSERT_EQ(opening.driver->Exchange(testsupport::RequestOf({0x18, 0x01}), &response), kExchangeOk);
    EXPECT_EQ(wire::HexSpaced(response.bytes, response.length),
              "1C 01 00 20 01 02 30 51 BF A2 02 00 00 01 00 00 00 00");
  }
}

// What each fault rule makes of the lock request (OEM 10h): the answer the driver hands back,
// whether the BMC took the lock, and the exchange log line.
TEST_F(SimulatedWmi, FaultRulesShowThroughTheDriver) {
  struct Case {
    const char* rule;  // empty: none
    bool called;
    std::optional<uint8_t> code;
    std::optional<wire::Bytes> data;
    bool carriedOut;
    const char* logged;
  } cases[] = {
      {"", true, 0x00, wire::Bytes{0x00}, true, "F8 10 00 -> FC 10 00"},
      {"cc=0xce", true, 0xCE, wire::Bytes{0xCE}, false, "F8 10 00 -> FC 10 CE"},
      {"status=9", true, 0xFF, wire::Bytes{0xFF}, false, "F8 10 00 -> status 9"},
      {"status=10", true, 0xFF, wire::Bytes{0xFF}, true, "F8 10 00 -> status 10"},
      {"length=2", true, std::nullopt, wire::Bytes{}, true, "F8 10 00 -> FC 10"},
      {"patch=2:C5AA", true, 0xC5, wire::Bytes{0xC5, 0xAA}, true, "F8 10 00 -> FC 10 C5 AA"},
      {"wmi=fail", false, std::nullopt, std::nullopt, false, "F8 10 00 -> status 10 (method call failed)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    bmc.Init();
    bmc.SetMicrosoftDriver(true);
    if (*c.rule) bmc.AddFault(std::string("netfn=0x3e cmd=0x10 ") + c.rule);
    auto method = MakeSimulatedWmiMethod(bmc.dir(), clock);
    WmiAnswer answer;
    EXPECT_EQ(Call(*method, In({0xF8, 0x10, 0x00}), &answer), c.called);
    EXPECT_EQ(answer.completionCode, c.code);
    EXPECT_EQ(answer.responseData, c.data);
    EXPECT_EQ(LockHeld(), c.carriedOut);
    EXPECT_EQ(bmc.LogLines(), std::vector<std::string>{c.logged});
  }
}

// A failed call tears the provider down until it is opened again; a machine that lost its
// driver cannot open it again.
TEST_F(SimulatedWmi, FailedCallTearsDownUntilReopened) {
  bmc.AddFault("netfn=0x06 cmd=0x01 wmi=fail");
  auto method = MakeSimulatedWmiMethod(bmc.dir(), clock);
  WmiAnswer answer;
  EXPECT_FALSE(Call(*method, In({0x18, 0x01}), &answer));
  EXPECT_EQ(method->Prepare(In({0x18, 0x01})).outcome, PrepareOutcome::kMethodUnavailable);
  EXPECT_FALSE(method->Call(kPath, &answer));
  EXPECT_EQ(bmc.LogLines().size(), 1u);  // nothing reached the BMC after the teardown
  ASSERT_TRUE(method->Reopen());
  EXPECT_TRUE(Call(*method, In({0x18, 0x01}), &answer));
  EXPECT_EQ(answer.completionCode, 0x00);

  bmc.SetMicrosoftDriver(false);
  EXPECT_FALSE(Call(*method, In({0x18, 0x01}), &answer));
  EXPECT_FALSE(method->Reopen());
  // The vendor driver never meets a wmi= rule: it stays armed.
  bmc.AddFault("netfn=0x06 cmd=0x01 wmi=fail");
  auto vendor = MakeSimulatedDriver(bmc.dir(), clock);
  IpmiResponse response;
  EXPECT_EQ(vendor->Exchange(testsupport::RequestOf({0x18, 0x01}), &response), kExchangeOk);
  bmc.SetMicrosoftDriver(true);
  ASSERT_TRUE(method->Reopen());
  EXPECT_FALSE(Call(*method, In({0x18, 0x01}), &answer));
}

// In-parameters the driver cannot take apart, or another instance's path, fail the call before
// anything reaches the BMC.
TEST_F(SimulatedWmi, MalformedCallsFailBeforeTheBmc) {
  const WmiInParameters good = In({0xF8, 0x13, 0x01, 0x02, 0x03, 0x04, 0x05});
  struct Case {
    const char* name;
    std::function<void(WmiInParameters&)> spoil;
    std::wstring path = kPath;
  } cases[] = {
      {"another instance", [](WmiInParameters&) {}, IpmiInstancePath(L"ROOT\\SYSTEM\\0002_0")},
      {"unescaped path", [](WmiInParameters&) {},
       L"\\\\.\\root\\WMI:Microsoft_IPMI.InstanceName=\"ROOT\\SYSTEM\\0001_0\""},
      {"LUN 1", [](WmiInParameters& in) { in.lun = 1; }},
      {"responder 22h", [](WmiInParameters& in) { in.responderAddress = 0x22; }},
      {"DataSize off", [](WmiInParameters& in) { in.dataSize += 4; }},
      {"RequestDataSize off", [](WmiInParameters& in) { in.requestDataSize = 4; }},
      {"padding not zero", [](WmiInParameters& in) { in.data[6] = 1; }},
      {"trailer without its 1", [](WmiInParameters& in) { in.data[8] = 2; }},
      {"trailer without its 30", [](WmiInParameters& in) { in.data[24] = 31; }},
      {"array cut",
       [](WmiInParameters& in) {
         in.data.pop_back();
         --in.dataSize;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto method = MakeSimulatedWmiMethod(bmc.dir(), clock);
    WmiInParameters in = good;
    c.spoil(in);
    WmiAnswer answer;
    EXPECT_FALSE(Call(*method, in, &answer, c.path));
    EXPECT_TRUE(bmc.LogLines().empty());
  }
  auto method = MakeSimulatedWmiMethod(bmc.dir(), clock);
  WmiAnswer answer;
  EXPECT_TRUE(Call(*method, good, &answer));
  EXPECT_EQ(bmc.LogLines(), std::vector<std::string>{"F8 13 01 02 03 04 05 -> FC 13 C7"});
}

}  // namespace
}  // namespace transport
