#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The file can be opened for reading (a file that is there but unreadable is not).
bool FileReadable(const std::string& path);
// Size in bytes, or -1 when the file cannot be opened.
int64_t FileSize(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string* content);
// Replaces path whole: writes a temporary file beside it (a fresh unpredictable name, created
// exclusively and never through a link), flushes it to disk and renames it over path. A reader
// never sees half a file. On failure the old file is untouched, no temporary remains and
// *error (when given) holds the reason as an errno number; Windows errors are mapped onto the
// nearest one (ENOENT, EACCES, EEXIST, ENOSPC, ENOMEM, EINVAL, EIO for the rest).
bool WriteFileAtomically(const std::string& path, std::string_view content, int* error = nullptr);
// Whether the atomic writer flushes each file to disk before the rename (the default). Only
// tests turn it off: their files are scratch, and thousands of flushes would cost minutes.
void SetFlushToDisk(bool flush);
bool FlushToDisk();
// Copies a file the same way: the destination is replaced whole or not at all.
bool CopyFileAtomically(const std::string& from, const std::string& to, int* error = nullptr);
// Renames, replacing an existing target; *error as for WriteFileAtomically.
bool RenameOver(const std::string& from, const std::string& to, int* error = nullptr);
bool RemoveFile(const std::string& path);
bool MakeDirectory(const std::string& path);

std::string CurrentDirectory();
bool ChangeDirectory(const std::string& path);

// The platform's spellings: path separator, parent-directory prefix ("..\" or "../") and
// the null device ("nul" or "/dev/null").
char PathSeparator();
const char* ParentPrefix();
const char* NullDevice();

// Directory part of a path, without the trailing separator; empty when there is none.
std::string DirectoryOf(const std::string& path);
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace platform
