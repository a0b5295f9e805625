#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// While alive, the programs' atomic writer sees a disk with bytesLeft bytes free: a file that
// does not fit is written as far as it goes, then fails with ENOSPC, as on a full disk.
class ScopedDiskSpace {
 public:
  explicit ScopedDiskSpace(uint64_t bytesLeft);
  ~ScopedDiskSpace();
  ScopedDiskSpace(const ScopedDiskSpace&) = delete;
  ScopedDiskSpace& operator=(const ScopedDiskSpace&) = delete;

 private:
  uint64_t left_;
};

// While alive, someone plants a symbolic link to victim (a copy of it where links cannot be
// made) at the first temporary name of every atomic write, between the name's choice and the
// file's creation: what an attacker who could guess the names would do. A sound writer
// refuses the name and takes another one.
class ScopedTemporaryPlanter {
 public:
  explicit ScopedTemporaryPlanter(std::string victim);
  ~ScopedTemporaryPlanter();
  ScopedTemporaryPlanter(const ScopedTemporaryPlanter&) = delete;
  ScopedTemporaryPlanter& operator=(const ScopedTemporaryPlanter&) = delete;

  // The names planted so far.
  const std::vector<std::string>& planted() const { return planted_; }
  // Whether a temporary beside path (path, a dot, anything) was planted: path was written
  // through the atomic writer.
  bool PlantedBeside(const std::string& path) const;

 private:
  std::string victim_;
  std::vector<std::string> planted_;
  bool plantNext_ = true;
};

// A symbolic link at link to target; false where the system cannot make one.
bool MakeSymbolicLink(const std::string& target, const std::string& link);
bool IsSymbolicLink(const std::string& path);

// Makes dir read-only for this process while alive. When running as root, its override of file
// permissions is dropped meanwhile (Linux), so the directory keeps root's files out too.
// effective() is false where nothing keeps new files out of the directory (Windows, where the
// read-only attribute does not apply to a directory's entries).
class ScopedReadOnlyDirectory {
 public:
  explicit ScopedReadOnlyDirectory(std::string dir);
  ~ScopedReadOnlyDirectory();
  ScopedReadOnlyDirectory(const ScopedReadOnlyDirectory&) = delete;
  ScopedReadOnlyDirectory& operator=(const ScopedReadOnlyDirectory&) = delete;
  bool effective() const { return effective_; }

 private:
  std::string dir_;
  bool effective_ = false;
  bool overrideDropped_ = false;
};

// The entries of dir named name and a dot, then anything: temporaries a write of dir/name left.
std::vector<std::string> LeftoversBeside(const std::string& dir, const std::string& name);

// What stands in the way of writing a file.
enum class FileFault {
  kDiskFull,           // nothing fits whole
  kDirectory,          // a directory (with a file in it) holds the name
  kReadOnlyDirectory,  // the file's directory takes no new entries
  kLinkAtName,         // a symbolic link to someone else's file holds the name
  kLinkAtTemporary,    // links are planted at the writer's temporary names as it picks them
};

// A file a program run writes, and how to tell whether it did.
struct FileUnderTest {
  std::string path;
  std::string log;      // the run's log
  std::string refusal;  // beginning of the log line saying the file could not be written
  std::string claim;    // a log line claiming the file was written; empty: none
  // The new file as its reader expects it (given its path).
  std::function<bool(const std::string& path)> written;
  // The run's own working file, which it removes at its end.
  bool removedAtEnd = false;
};

// Stages the fault at file.path, does the run and checks what a tool that must never lose a file
// does. A write the fault refuses: the old file (or directory) is whole, no temporary is left
// beside it, the log says so (unless the log shares the read-only directory) and claims nothing.
// A link: never followed, someone else's file untouched, the file written as a file of its own.
// Returns why the fault cannot be staged on this system (nothing ran then); empty when it ran.
std::string RunWithFault(FileFault fault, const FileUnderTest& file, const std::function<int()>& run);

}  // namespace testsupport
