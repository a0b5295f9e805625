#include "fuzz/support/workspace.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/files.h"
#include "platform/process.h"

namespace fuzzing {
namespace {

namespace fs = std::filesystem;

// Memory-backed when the system has it: the programs flush every result file to disk.
fs::path BaseDirectory() {
  std::error_code ec;
  if (fs::is_directory("/dev/shm", ec)) return "/dev/shm";
  return fs::temp_directory_path(ec);
}

std::string* g_removeAtExit = nullptr;

void RemoveWorkspace() {
  if (!g_removeAtExit) return;
  std::error_code ec;
  fs::current_path(fs::path(*g_removeAtExit).parent_path(), ec);
  fs::remove_all(*g_removeAtExit, ec);
}

}  // namespace

Workspace::Workspace() {
  const fs::path base = BaseDirectory();
  for (int attempt = 0;; ++attempt) {
    fs::path dir =
        base / ("bmc-fuzz-" + std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(attempt));
    std::error_code ec;
    if (fs::create_directory(dir, ec)) {
      path_ = dir.string();
      break;
    }
    if (attempt > 100) Die("cannot create the fuzz workspace");
  }
  if (!platform::ChangeDirectory(path_)) Die("cannot enter the fuzz workspace");
  // Every file here is scratch: flushing each result file to disk would only slow the runs.
  platform::SetFlushToDisk(false);
  g_removeAtExit = &path_;
  std::atexit(RemoveWorkspace);
}

Workspace& Workspace::Enter() {
  static Workspace* workspace = new Workspace();
  return *workspace;
}

void Workspace::Clear() {
  std::error_code ec;
  for (fs::directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code removeError;
    fs::remove_all(it->path(), removeError);
  }
}

void Workspace::Write(const std::string& name, std::string_view content) const {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) Die("cannot write a file into the fuzz workspace");
}

void ShowRunFiles() {
  if (!std::getenv("FUZZ_SHOW_FILES")) return;
  std::error_code ec;
  for (fs::directory_iterator it(Workspace::Enter().path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.find(".log") == std::string::npos && name.find(".txt") == std::string::npos &&
        name.find(".xml") == std::string::npos)
      continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "---- %s\n%s", name.c_str(), content.c_str());
  }
}

std::string ResultCode(const std::string& name) {
  std::string text;
  if (!platform::ReadWholeFile(platform::JoinPath(Workspace::Enter().path(), name), &text)) return "";
  const size_t open = text.find("<result_code>");
  const size_t close = text.find("</result_code>");
  if (open == std::string::npos || close == std::string::npos || close < open) return "";
  std::string code = text.substr(open + 13, close - open - 13);
  const size_t first = code.find_first_not_of(" \t\r\n");
  const size_t last = code.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? "" : code.substr(first, last - first + 1);
}

void BoundedClock::SleepMs(uint32_t ms) {
  if (TotalSleptMs() + ms > kMaxSleptMs) Die("a run waited more than a week on the virtual clock");
  VirtualClock::SleepMs(ms);
}

void Die(const char* what) {
  std::fprintf(stderr, "fuzz target: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

RunFrame::RunFrame(transport::IpmiDriver* driver, std::string consoleInput)
    : console(std::move(consoleInput)) {
  env.clock = &clock;
  env.console = &console;
  env.vendorDriver = driver;
  env.lockName = "fuzz-target.lock";
  env.lockDir = Workspace::Enter().path();
}

std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size, size_t maxParts) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < maxParts) {
      parts.emplace_back();
      continue;
    }
    parts.back().push_back(static_cast<char>(data[i]));
  }
  return parts;
}

}  // namespace fuzzing
