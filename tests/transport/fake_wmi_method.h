#pragma once
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/testing/virtual_clock.h"
#include "transport/wmi_driver.h"

namespace transport {

// A Microsoft IPMI driver answering from a script; it records what reached it and counts any
// use of the service after a teardown.
struct FakeWmiMethod : WmiIpmiMethod {
  struct Reply {
    bool callFails;
    WmiAnswer answer;
  };
  InstanceLookup lookup = InstanceLookup::kFound;
  uint32_t lookupTimeoutMs = 0;
  PrepareResult prepareResult;
  bool reopenSucceeds = true;
  bool tornDown = false;
  std::deque<Reply> replies;  // empty: 00h
  std::vector<WmiInParameters> prepared;
  std::vector<std::wstring> calledPaths;
  int reopens = 0;
  int usedAfterTeardown = 0;

  // One reply per code, its ResponseData the code and A5h.
  void AnswerCodes(const std::vector<uint8_t>& codes) {
    for (uint8_t code : codes) replies.push_back({false, {code, wire::Bytes{code, 0xA5}}});
  }

  InstanceLookup FindInstanceName(uint32_t timeoutMs, std::wstring* name) override {
    lookupTimeoutMs = timeoutMs;
    *name = L"ROOT\\SYSTEM\\0001_0";
    return lookup;
  }
  PrepareResult Prepare(const WmiInParameters& in) override {
    usedAfterTeardown += tornDown;
    prepared.push_back(in);
    return prepareResult;
  }
  bool Call(const std::wstring& path, WmiAnswer* answer) override {
    usedAfterTeardown += tornDown;
    calledPaths.push_back(path);
    Reply reply{false, {0x00, wire::Bytes{0x00, 0xA5}}};
    if (!replies.empty()) reply = replies.front(), replies.pop_front();
    tornDown = reply.callFails;
    *answer = reply.answer;
    return !reply.callFails;
  }
  void EndRequest() override {}
  bool Reopen() override {
    ++reopens;
    tornDown = !reopenSucceeds;
    return reopenSucceeds;
  }
};

// A WMI path over the fake, its lines and events recorded, its waits on a virtual clock.
struct FakeWmiPath : WmiPathEvents {
  explicit FakeWmiPath(WmiRetryPolicy policy) : owned(std::make_unique<FakeWmiMethod>()), fake(owned.get()) {
    setup.policy = std::move(policy);
    setup.log = [this](const std::string& line) { lines.push_back(line); };
    setup.events = this;
    setup.clock = &clock;
  }
  // The driver then owns the fake.
  WmiPathOpening Open() { return StartWmiPath(std::move(owned), setup); }
  void RetriesUsedUpUnderLoad(uint8_t code) override { highLoadCodes.push_back(code); }
  void MethodUnavailable(int32_t hresult) override { unavailableResults.push_back(hresult); }

  std::unique_ptr<FakeWmiMethod> owned;
  FakeWmiMethod* fake;
  platform::VirtualClock clock;
  WmiPathSetup setup;
  std::vector<std::string> lines;
  std::vector<uint8_t> highLoadCodes;
  std::vector<int32_t> unavailableResults;
};

}  // namespace transport
