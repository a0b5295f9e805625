#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bmcsim/store/state_file.h"

namespace bmcsim {

// Where a journal stands: the state it continues and its length. While both stay the same,
// nobody has saved.
struct JournalMark {
  StateVersion base;
  uint64_t size = 0;
  bool operator==(const JournalMark& other) const { return base == other.base && size == other.size; }
  bool operator!=(const JournalMark& other) const { return !(*this == other); }
};

struct JournalRecord {
  uint64_t generation = 0;
  std::string_view payload;  // points into JournalContent::bytes
};

// A journal as read: the records that continue the base one generation after another, up to
// the first that is torn or out of line.
struct JournalContent {
  JournalMark mark;
  std::vector<JournalRecord> records;
  uint64_t validEnd = 0;  // where the last of these records ends
  std::string bytes;
};

// The saves made since a snapshot, appended to one file: "BMCSIMJL", format, the version of
// the snapshot continued and a checksum; then records of payload length, generation,
// checksum and payload. A save interrupted half way leaves a record whose checksum fails,
// and the journal ends before it.
//
// Within one locked step the file read for its mark stays open for the append that may follow:
// an exchange then costs one open of the journal, not two.
class StateJournal {
 public:
  explicit StateJournal(std::string path) : path_(std::move(path)) {}
  ~StateJournal() { Close(); }
  StateJournal(const StateJournal&) = delete;
  StateJournal& operator=(const StateJournal&) = delete;

  // Opens the file and reads its mark; false when it is missing or its header damaged.
  bool OpenMark(JournalMark* mark);
  bool Read(JournalContent* content) const;
  // Empties the journal and makes it continue base; `headerOnly`: the file holds nothing but
  // a header, which is rewritten in place.
  bool Reset(StateVersion base, bool headerOnly, std::string* error);
  // Appends at the end of the file (the one OpenMark left open, if any).
  bool Append(uint64_t generation, std::string_view payload, std::string* error);
  // Ends the step: the file is closed.
  void Close();

  static uint64_t HeaderSize();
  static uint64_t RecordSize(size_t payloadSize);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* open_ = nullptr;  // positioned at the end
};

}  // namespace bmcsim
