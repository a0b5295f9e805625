#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

bool FileExists(const std::string& path);
// Size in bytes, or -1 when the file cannot be opened.
int64_t FileSize(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string* content);
// Writes a temporary file beside the target and renames it over the target, so a reader
// never sees half a file and a failed write leaves the old content in place.
bool WriteFileAtomically(const std::string& path, std::string_view content);
// Copies a file the same way: the destination is replaced whole or not at all.
bool CopyFileAtomically(const std::string& from, const std::string& to);
// Renames, replacing an existing target.
bool RenameOver(const std::string& from, const std::string& to);
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
