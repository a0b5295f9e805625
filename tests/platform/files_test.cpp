#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/files_internal.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testsupport::ReadFileOrEmpty;
using testsupport::TempDir;

size_t CountEntries(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(Files, AtomicWriteReplacesWholeFileAndLeavesNoTemporary) {
  TempDir dir;
  std::string target = dir.File("result.xml");
  ASSERT_TRUE(WriteFileAtomically(target, "a much longer first content"));
  ASSERT_TRUE(WriteFileAtomically(target, "short"));
  EXPECT_EQ(ReadFileOrEmpty(target), "short");
  EXPECT_EQ(FileSize(target), 5);
  EXPECT_EQ(CountEntries(dir.path()), 1u);
}

TEST(Files, FailedAtomicWriteKeepsNothingAndReportsFailure) {
  TempDir dir;
  std::string target = JoinPath(dir.File("missing-dir"), "result.xml");
  int error = 0;
  EXPECT_FALSE(WriteFileAtomically(target, "x", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(FileReadable(target));
  EXPECT_EQ(CountEntries(dir.path()), 0u);
}

TEST(Files, AtomicWriteRetriesANameClashAndNeverTouchesTheFileItClashedWith) {
  TempDir dir;
  std::string target = dir.File("result.xml");
  testsupport::WriteFile(target, "old");
  testsupport::WriteFile(dir.File("taken"), "someone else's");
  std::vector<std::string> names = {dir.File("taken"), dir.File("fresh")};
  size_t next = 0;
  auto source = [&](std::string* temporary) {
    *temporary = names[std::min(next++, names.size() - 1)];
    return 0;
  };
  int error = -1;
  EXPECT_TRUE(internal::WriteFileAtomicallyVia(target, "new", &error, source));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(ReadFileOrEmpty(target), "new");

  // A name that keeps clashing ends the attempt instead of looping, and loses nothing.
  names = {dir.File("taken")};
  next = 0;
  EXPECT_FALSE(internal::WriteFileAtomicallyVia(target, "newer", &error, source));
  EXPECT_EQ(error, EEXIST);
  EXPECT_GT(next, 1u);
  EXPECT_LT(next, 100u);
  EXPECT_EQ(ReadFileOrEmpty(target), "new");
  EXPECT_EQ(ReadFileOrEmpty(dir.File("taken")), "someone else's");
  EXPECT_EQ(CountEntries(dir.path()), 2u);
}

TEST(Files, CopyIsWholeAndFailsForMissingSource) {
  TempDir dir;
  std::string from = dir.File("a");
  std::string to = dir.File("b");
  testsupport::WriteFile(to, "old");
  int error = 0;
  EXPECT_FALSE(CopyFileAtomically(dir.File("none"), to, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(ReadFileOrEmpty(to), "old");
  testsupport::WriteFile(from, std::string(100000, 'x'));
  ASSERT_TRUE(CopyFileAtomically(from, to));
  EXPECT_EQ(FileSize(to), 100000);
}

TEST(Files, SizeOfMissingFileIsMinusOne) {
  TempDir dir;
  EXPECT_EQ(FileSize(dir.File("none")), -1);
  testsupport::WriteFile(dir.File("empty"), "");
  EXPECT_EQ(FileSize(dir.File("empty")), 0);
}

TEST(Files, DirectoryOfAndJoin) {
  const std::string sep(1, PathSeparator());
  EXPECT_EQ(DirectoryOf("prog"), "");
  EXPECT_EQ(DirectoryOf("a" + sep + "b" + sep + "prog"), "a" + sep + "b");
  EXPECT_EQ(JoinPath("", "x"), "x");
  EXPECT_EQ(JoinPath("d", "x"), "d" + sep + "x");
  EXPECT_EQ(JoinPath("d" + sep, "x"), "d" + sep + "x");
}

}  // namespace
}  // namespace platform
