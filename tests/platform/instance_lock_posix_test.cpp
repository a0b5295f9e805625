#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/instance_lock.h"
#include "platform/posix/lock_directory.h"
#include "tests/support/permission_override.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

TEST(InstanceLockPosix, RefusesALockFileThatIsASymlink) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("victim"), "precious");
  ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("evil.exe.lock").c_str()), 0);
  LockResult result;
  std::string detail;
  EXPECT_EQ(TryAcquireInstanceLock("evil.exe", &result, dir.path(), &detail), nullptr);
  EXPECT_EQ(result, LockResult::kFailed);
  EXPECT_EQ(testsupport::ReadFileOrEmpty(dir.File("victim")), "precious");
  EXPECT_EQ(detail.rfind(dir.File("evil.exe.lock") + ": ", 0), 0u) << detail;

  ASSERT_EQ(mkfifo(dir.File("pipe.exe.lock").c_str(), 0644), 0);
  EXPECT_EQ(TryAcquireInstanceLock("pipe.exe", &result, dir.path(), &detail), nullptr);
  EXPECT_EQ(result, LockResult::kFailed);
  EXPECT_EQ(detail, dir.File("pipe.exe.lock") + ": not a regular file");
}

TEST(InstanceLockPosix, TakesTheFirstExistingLockDirectoryAndRefusesWhenThereIsNone) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("file"), "");
  ASSERT_EQ(mkdir(dir.File("first").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("second").c_str(), 0755), 0);
  const std::string missing = dir.File("missing");
  std::string detail;
  EXPECT_EQ(internal::ChooseLockDirectory({missing, dir.File("file"), dir.File("first"), dir.File("second")},
                                          &detail),
            dir.File("first"));
  EXPECT_EQ(internal::ChooseLockDirectory({missing, dir.File("file")}, &detail), "");
  EXPECT_EQ(detail, "no lock directory: " + missing + ", " + dir.File("file"));

  // The refusal reaches the caller with its reason.
  LockResult result = LockResult::kAcquired;
  EXPECT_EQ(TryAcquireInstanceLock("tool.exe", &result, missing, &detail), nullptr);
  EXPECT_EQ(result, LockResult::kFailed);
  EXPECT_EQ(detail, "no lock directory: " + missing);
}

TEST(InstanceLockPosix, NeverTruncatesAnExistingLockFile) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("tool.exe.lock"), "someone's content");
  LockResult result;
  std::string detail = "stale";
  auto lock = TryAcquireInstanceLock("tool.exe", &result, dir.path(), &detail);
  EXPECT_EQ(result, LockResult::kAcquired);
  EXPECT_EQ(detail, "");
  EXPECT_EQ(testsupport::ReadFileOrEmpty(dir.File("tool.exe.lock")), "someone's content");
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// The programs' lock directory below a stand-in for /run: made when missing, refused wherever
// someone else could have put it, or files in it, first; a lock file planted as a link is
// never followed.
TEST(InstanceLockPosix, SystemDirectoryIsMadeWhenMissingAndRefusedUnlessOnlyItsOwnerCanWriteIt) {
  struct Case {
    const char* name;
    void (*prepare)(const std::string& run, const std::string& elsewhere);
    bool asUser;      // without root's power to override permissions
    bool chownRoot;   // needs root to give the directory away
    const char* why;  // how the reason ends; nullptr: acquired
  };
  const Case cases[] = {
      {"missing: made 0755 whatever the umask", [](const std::string&, const std::string&) {}, false, false,
       nullptr},
      {"there already, the owner's, 0755",
       [](const std::string& run, const std::string&) {
         mkdir((run + "/bmc-online-update").c_str(), 0755);
         chmod((run + "/bmc-online-update").c_str(), 0755);
       },
       false, false, nullptr},
      {"no parent: nothing made in its place",
       [](const std::string& run, const std::string&) { rmdir(run.c_str()); }, false, false,
       ": No such file or directory"},
      {"parent not writable", [](const std::string& run, const std::string&) { chmod(run.c_str(), 0555); },
       true, false, " cannot be created, it needs root: Permission denied"},
      {"a symbolic link to a directory",
       [](const std::string& run, const std::string& elsewhere) {
         symlink(elsewhere.c_str(), (run + "/bmc-online-update").c_str());
       },
       false, false, " is refused: it is a symbolic link"},
      {"a file",
       [](const std::string& run, const std::string&) {
         testsupport::WriteFile(run + "/bmc-online-update", "");
       },
       false, false, " is refused: it is not a directory"},
      {"another user's",
       [](const std::string& run, const std::string&) {
         mkdir((run + "/bmc-online-update").c_str(), 0755);
         (void)!chown((run + "/bmc-online-update").c_str(), 65534, 65534);
       },
       false, true, " is refused: it is owned by uid 65534, not root"},
      {"writable by its group",
       [](const std::string& run, const std::string&) {
         mkdir((run + "/bmc-online-update").c_str(), 0755);
         chmod((run + "/bmc-online-update").c_str(), 0775);
       },
       false, false, " is refused: group or others may write to it (mode 0775)"},
      {"writable by everyone, as /run/lock is",
       [](const std::string& run, const std::string&) {
         mkdir((run + "/bmc-online-update").c_str(), 0755);
         chmod((run + "/bmc-online-update").c_str(), 01777);
       },
       false, false, " is refused: group or others may write to it (mode 1777)"},
      {"a lock file planted as a link",
       [](const std::string& run, const std::string& elsewhere) {
         mkdir((run + "/bmc-online-update").c_str(), 0755);
         symlink((elsewhere + "/victim").c_str(), (run + "/bmc-online-update/tool.exe.lock").c_str());
       },
       false, false, "/tool.exe.lock: Too many levels of symbolic links"},
  };
  const mode_t umaskBefore = umask(077);
  for (const Case& c : cases) {
    if (c.chownRoot && geteuid() != 0) {
      std::printf("skipped without root: %s\n", c.name);
      continue;
    }
    testsupport::TempDir dir;
    const std::string run = dir.File("run");
    const std::string elsewhere = dir.File("elsewhere");
    ASSERT_EQ(mkdir(run.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    testsupport::WriteFile(elsewhere + "/victim", "precious");
    chmod((elsewhere + "/victim").c_str(), 0644);
    c.prepare(run, elsewhere);
    const std::string lockDir = run + "/bmc-online-update";
    const bool runThere = ModeOf(run) != 0;

    const bool dropped = c.asUser && testsupport::DropPermissionOverride();
    LockResult result = LockResult::kAcquired;
    std::string detail = "stale";
    auto lock = internal::TryAcquireSystemInstanceLock("tool.exe", run, geteuid(), &result, &detail);
    LockResult again = LockResult::kAcquired;
    auto second = internal::TryAcquireSystemInstanceLock("tool.exe", run, geteuid(), &again, nullptr);
    if (dropped) testsupport::RestorePermissionOverride();
    chmod(run.c_str(), 0755);

    if (!c.why) {
      EXPECT_EQ(result, LockResult::kAcquired) << c.name << ": " << detail;
      EXPECT_NE(lock, nullptr) << c.name;
      EXPECT_EQ(detail, "") << c.name;
      EXPECT_EQ(again, LockResult::kHeldElsewhere) << c.name;
      EXPECT_EQ(ModeOf(lockDir), S_IFDIR | 0755) << c.name;
      // No one else can open the file, so no one else can hold it.
      EXPECT_EQ(ModeOf(lockDir + "/tool.exe.lock"), S_IFREG | 0600) << c.name;
    } else {
      EXPECT_EQ(result, LockResult::kFailed) << c.name;
      EXPECT_EQ(lock, nullptr) << c.name;
      EXPECT_EQ(again, LockResult::kFailed) << c.name;
      const std::string why = c.why;
      EXPECT_EQ(detail.rfind(lockDir, 0), 0u) << c.name << ": " << detail;
      EXPECT_TRUE(detail.size() >= why.size() &&
                  detail.compare(detail.size() - why.size(), why.size(), why) == 0)
          << c.name << ": " << detail;
    }
    EXPECT_EQ(testsupport::ReadFileOrEmpty(elsewhere + "/victim"), "precious") << c.name;
    EXPECT_EQ(ModeOf(elsewhere + "/victim"), S_IFREG | 0644) << c.name;
    EXPECT_EQ(ModeOf(elsewhere + "/tool.exe.lock"), 0u) << c.name;
    EXPECT_EQ(ModeOf(run) != 0, runThere) << c.name;
  }
  umask(umaskBefore);
}

}  // namespace
}  // namespace platform
