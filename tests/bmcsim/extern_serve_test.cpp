// `bmcsim serve` as QEMU meets it: a UNIX socket, the greeting, requests answered through the
// BMC directory with their sequence bytes, fault rules, reconnection.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "bmcsim/faults/fault_rules.h"
#include "bmcsim/serve/extern_framing.h"
#include "bmcsim/serve/extern_socket.h"
#include "bmcsim/store/bmc_directory.h"
#include "tests/support/child_process.h"
#include "platform/testing/virtual_clock.h"
#include "tests/support/temp_dir.h"

namespace bmcsim {
namespace {

using testsupport::TempDir;

constexpr int kAnswerWaitMs = 5000;  // only a broken server makes a test wait this long

// QEMU's end of the connection.
class Qemu {
 public:
  explicit Qemu(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~Qemu() { close(fd_); }
  bool connected() const { return connected_; }

  void Send(const wire::Bytes& bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  }
  // What QEMU sends when the connection opens.
  void Greet() { Send({0xFF, 0x01, 0xA1, 0x08, 0x3F, 0xA1}); }
  void Request(uint8_t sequence, const wire::Bytes& message) { Send(EncodeExternMessage(sequence, message)); }

  // The next frame from the BMC; kind kTooShort stands for none within the wait.
  ExternFrame Next(int waitMs = kAnswerWaitMs) {
    while (frames_.empty()) {
      pollfd fds{fd_, POLLIN, 0};
      if (poll(&fds, 1, waitMs) <= 0) return ExternFrame{ExternFrame::Kind::kTooShort, 0, {}};
      uint8_t buffer[512];
      ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
      if (n <= 0) return ExternFrame{ExternFrame::Kind::kTooShort, 0, {}};
      decoder_.Feed(buffer, static_cast<size_t>(n), &frames_);
    }
    ExternFrame frame = frames_.front();
    frames_.erase(frames_.begin());
    return frame;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  ExternDecoder decoder_;
  std::vector<ExternFrame> frames_;
};

class ExternServeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(BmcDirectory(dir).Initialize(FreshState({}, {}, clock), &error)) << error;
  }
  void TearDown() override { StopServer(); }

  void StartServer() {
    server = std::make_unique<ExternSocketServer>([&](const std::string& line) {
      std::lock_guard<std::mutex> hold(notesLock);
      notes.push_back(line);
    });
    std::string error;
    ASSERT_TRUE(server->Listen(socketPath, &error)) << error;
    runner = std::thread([&] { server->Run(bmc, clock); });
  }
  void StopServer() {
    if (!server) return;
    server->Stop();
    runner.join();
    server.reset();
  }
  void AddFault(const std::string& text) {
    FaultRule rule;
    std::string error;
    ASSERT_TRUE(ParseFaultRule(text, &rule, &error)) << error;
    ASSERT_TRUE(BmcDirectory(dir).Modify(
        [&](BmcState& state, std::string*) {
          state.faults.push_back(rule);
          return true;
        },
        &error));
  }
  // Waits until the exchange log has this many lines: the server has handled the request.
  void AwaitLogLines(size_t count) {
    for (int i = 0; i < kAnswerWaitMs; ++i) {
      std::string log;
      std::string error;
      ASSERT_TRUE(BmcDirectory(dir).ReadLog(&log, false, &error)) << error;
      if (static_cast<size_t>(std::count(log.begin(), log.end(), '\n')) >= count) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FAIL() << "the server never handled the request";
  }

  TempDir temp;
  std::string dir = temp.File("bmc");
  std::string socketPath = temp.File("bmc.sock");
  platform::VirtualClock clock;
  BmcDirectory bmc{dir};
  std::unique_ptr<ExternSocketServer> server;
  std::thread runner;
  std::mutex notesLock;
  std::vector<std::string> notes;
};

void ExpectDeviceIdAnswer(const ExternFrame& frame, uint8_t sequence) {
  EXPECT_EQ(frame.kind, ExternFrame::Kind::kMessage);
  EXPECT_EQ(frame.sequence, sequence);
  ASSERT_GE(frame.bytes.size(), 3u);
  EXPECT_EQ(frame.bytes[0], 0x1C);  // App response, LUN 0
  EXPECT_EQ(frame.bytes[1], 0x01);
  EXPECT_EQ(frame.bytes[2], 0x00);
}

TEST_F(ExternServeTest, AnswersAsTheSimulatedDriverDoesAndSurvivesReconnection) {
  StartServer();
  {
    Qemu qemu(socketPath);
    ASSERT_TRUE(qemu.connected());
    qemu.Greet();
    qemu.Request(0x21, {0x18, 0x01});  // Get Device ID
    ExternFrame answer = qemu.Next();
    ExpectDeviceIdAnswer(answer, 0x21);
    // The model's own answer, byte for byte.
    uint8_t request[] = {0x18, 0x01};
    platform::VirtualClock other;
    BmcDirectory direct(dir);
    EXPECT_EQ(answer.bytes, direct.Exchange(request, sizeof(request), other).response);

    // The host's driver turns the receive interrupt on and off: QEMU's interface is told
    // before the answer, and only on a change the BMC took.
    const std::pair<wire::Bytes, uint8_t> enables[] = {{{0x18, 0x2E, 0x09}, kExternEnableIrq},
                                                       {{0x18, 0x2E, 0x08}, kExternDisableIrq}};
    for (const auto& [message, control] : enables) {
      qemu.Request(0x30, message);
      ExternFrame told = qemu.Next();
      EXPECT_EQ(told.kind, ExternFrame::Kind::kCommand);
      EXPECT_EQ(told.bytes, wire::Bytes{control});
      EXPECT_EQ(qemu.Next().bytes, (wire::Bytes{0x1C, 0x2E, 0x00}));
    }
    qemu.Request(0x31, {0x18, 0x2E, 0x11});  // a reserved bit: refused, nothing to tell
    EXPECT_EQ(qemu.Next().bytes, (wire::Bytes{0x1C, 0x2E, 0xCC}));

    // A request the fault rules leave unreachable gets no answer; the next is answered.
    AddFault("netfn=0x06 cmd=0x01 status=9");
    qemu.Request(0x22, {0x18, 0x01});
    AwaitLogLines(6);
    qemu.Request(0xA0, {0x18, 0x01});  // a sequence byte that needs an escape
    ExpectDeviceIdAnswer(qemu.Next(), 0xA0);

    // A delay is slept on the server's clock before the answer.
    AddFault("netfn=0x06 cmd=0x01 delay=1500");
    uint64_t slept = clock.TotalSleptMs();
    qemu.Request(0x23, {0x18, 0x01});
    ExpectDeviceIdAnswer(qemu.Next(), 0x23);
    EXPECT_GE(clock.TotalSleptMs() - slept, 1500u);

    // A control command (the machine's reset) and a message with a bad checksum get no
    // answer; a message longer than QEMU sends gets its "truncated" answer.
    qemu.Send({0x04, 0xA1, 0x24, 0x18, 0x01, 0x00, 0xA0});
    wire::Bytes tooLong(kExternMaxMessage + 1, 0x00);
    tooLong[0] = 0x28;
    tooLong[1] = 0x23;
    qemu.Request(0x25, tooLong);
    ExternFrame truncated = qemu.Next();
    EXPECT_EQ(truncated.sequence, 0x25);
    EXPECT_EQ(truncated.bytes, (wire::Bytes{0x2C, 0x23, 0xC6}));

    // Two requests at once: QEMU gave up on the first, so only the second is answered.
    wire::Bytes both = EncodeExternMessage(0x26, {0x18, 0x01});
    wire::Bytes second = EncodeExternMessage(0x27, {0x18, 0x01});
    both.insert(both.end(), second.begin(), second.end());
    qemu.Send(both);
    ExpectDeviceIdAnswer(qemu.Next(), 0x27);
  }
  // QEMU reconnects after a disconnect.
  for (uint8_t sequence : {0x30, 0x31}) {
    Qemu qemu(socketPath);
    ASSERT_TRUE(qemu.connected());
    qemu.Greet();
    qemu.Request(sequence, {0x18, 0x01});
    ExpectDeviceIdAnswer(qemu.Next(), sequence);
  }
  StopServer();
  EXPECT_NE(access(socketPath.c_str(), F_OK), 0) << "the socket file stays behind";

  // Every request the BMC took is in its exchange log, the unanswered one too.
  std::string log;
  std::string error;
  ASSERT_TRUE(BmcDirectory(dir).ReadLog(&log, false, &error)) << error;
  EXPECT_NE(log.find("18 01 -> status 9"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 12) << log;
}

TEST_F(ExternServeTest, SocketPathRules) {
  std::string error;
  // Something else at the path is never removed.
  testsupport::WriteFile(socketPath, "data");
  ExternSocketServer refused([](const std::string&) {});
  EXPECT_FALSE(refused.Listen(socketPath, &error));
  EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
  EXPECT_EQ(testsupport::ReadFileOrEmpty(socketPath), "data");
  std::remove(socketPath.c_str());

  // A socket some server still listens on is not taken over; a stale one is replaced. Only
  // its user may connect, whatever the umask, which comes back as it was.
  const mode_t umaskBefore = umask(0);
  StartServer();
  EXPECT_EQ(umask(umaskBefore), 0u);
  struct stat info {};
  ASSERT_EQ(stat(socketPath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ExternSocketServer second([](const std::string&) {});
  EXPECT_FALSE(second.Listen(socketPath, &error));
  EXPECT_NE(error.find("in use"), std::string::npos) << error;
  int stale = socket(AF_UNIX, SOCK_STREAM, 0);
  StopServer();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  close(stale);
  StartServer();
  Qemu qemu(socketPath);
  ASSERT_TRUE(qemu.connected());
  qemu.Request(0x01, {0x18, 0x01});
  ExpectDeviceIdAnswer(qemu.Next(), 0x01);
}

// The program itself: its refusals, the line a script waits for, and both stop signals.
TEST_F(ExternServeTest, TheProgramStopsOnEitherSignalAndCleansUp) {
  const std::string output = temp.File("out.txt");
  auto run = [&](const std::vector<std::string>& args) {
    return testsupport::RunProcess(BMCSIM_TOOL_PATH, args, temp.path(), output);
  };
  EXPECT_EQ(run({"serve", dir}), 1);
  EXPECT_EQ(run({"serve", temp.File("none"), "--socket", socketPath}), 1);
  EXPECT_NE(testsupport::ReadFileOrEmpty(output).find("holds no simulated BMC"), std::string::npos);
  EXPECT_NE(access(socketPath.c_str(), F_OK), 0);

  for (auto stop : {testsupport::StopRequest::kTerminate, testsupport::StopRequest::kCtrlC}) {
    std::remove(output.c_str());
    auto serve = testsupport::StartInterruptibleProcess(
        BMCSIM_TOOL_PATH, {"serve", dir, "--socket", socketPath}, temp.path(), output);
    ASSERT_TRUE(serve);
    for (int i = 0; i < kAnswerWaitMs && testsupport::ReadFileOrEmpty(output).empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(testsupport::ReadFileOrEmpty(output), "listening on " + socketPath + "\n");
    {
      Qemu qemu(socketPath);
      ASSERT_TRUE(qemu.connected());
      qemu.Greet();
      qemu.Request(0x40, {0x18, 0x01});
      ExpectDeviceIdAnswer(qemu.Next(), 0x40);
      ASSERT_TRUE(serve->Interrupt(stop));
      EXPECT_EQ(serve->Wait(), 0);
    }
    EXPECT_NE(access(socketPath.c_str(), F_OK), 0) << "the socket file stays behind";
  }
}

}  // namespace
}  // namespace bmcsim
