#include "bmcsim/store/state_store.h"

#include <algorithm>

#include "bmcsim/store/state_payload.h"
#include "platform/files.h"

namespace bmcsim {

StateStore::StateStore(const std::string& dir, uint64_t journalFromBytes)
    : slots_(dir),
      journal_(platform::JoinPath(dir, "state-journal.bin")),
      journalFromBytes_(journalFromBytes) {}

bool StateStore::UpToDate() {
  if (!cached_) return false;
  JournalMark now;
  bool present = journal_.OpenMark(&now);
  if (present != journalSeen_.has_value() || (present && now != *journalSeen_)) return false;
  if (continued_) return true;
  // Every save that does not append to the journal writes a snapshot, which shows in the
  // headers.
  int slot = -1;
  StateVersion newest;
  return NewestSlot(&slot, &newest) && newest == version_;
}

bool StateStore::NewestSlot(int* slot, StateVersion* version) const {
  *slot = -1;
  for (int i = 0; i < 2; ++i) {
    StateVersion header;
    if (slots_.Header(i, &header) && (*slot < 0 || header.generation > version->generation)) {
      *slot = i;
      *version = header;
    }
  }
  return *slot >= 0;
}

bool StateStore::Load(BmcState* state, std::string* error) {
  cached_ = false;
  journal_.Close();
  ++stats_.loads;
  JournalContent journal;
  bool haveJournal = journal_.Read(&journal);
  struct Candidate {
    int slot;
    StateVersion header;
    bool continued;
    uint64_t generation;
  };
  std::vector<Candidate> candidates;
  for (int slot = 0; slot < 2; ++slot) {
    Candidate c{slot, {}, false, 0};
    if (!slots_.Header(slot, &c.header)) continue;
    c.continued = haveJournal && journal.mark.base == c.header;
    c.generation = c.header.generation + (c.continued ? journal.records.size() : 0);
    candidates.push_back(c);
  }
  // On a tie the journal's line wins: a snapshot written by a save that died before it could
  // start the journal over was never answered, while others may have gone on from the journal.
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.generation != b.generation ? a.generation > b.generation : a.continued > b.continued;
  });
  *error = "no state file";
  for (const Candidate& c : candidates) {
    BmcState loaded;
    StateVersion version;
    size_t fileBytes = 0;
    if (!slots_.Load(c.slot, &loaded, &version, &fileBytes, error)) continue;
    bool applied = true;
    for (size_t i = 0; applied && c.continued && i < journal.records.size(); ++i) {
      std::string detail;
      applied = ApplyStatePayload(journal.records[i].payload, &loaded, &detail);
      if (!applied) *error = journal_.path() + ": " + detail;
    }
    if (!applied) continue;
    version_ = StateVersion{version.epoch, c.generation};
    slot_ = c.slot;
    journalSeen_ = haveJournal ? std::optional<JournalMark>(journal.mark) : std::nullopt;
    continued_ = c.continued;
    appendable_ = c.continued && journal.validEnd == journal.mark.size;
    snapshotBytes_ = fileBytes;
    sections_ = SerializeSections(loaded);
    *state = std::move(loaded);
    cached_ = true;
    return true;
  }
  return false;
}

bool StateStore::Initialize(const BmcState& state, uint64_t epoch, std::string* error) {
  // Above every generation in the directory, so that this state wins over whatever an older
  // journal still continues; the newest slot is spared until the fresh one is complete.
  StateVersion newestSlot;
  uint64_t newest = NewestSlot(&slot_, &newestSlot) ? newestSlot.generation : 0;
  JournalContent journal;
  if (journal_.Read(&journal))
    newest = std::max(newest, journal.mark.base.generation + journal.records.size());
  journalSeen_ = JournalMark{};  // whatever is there goes
  return WriteSnapshot(state, SerializeSections(state), StateVersion{epoch, newest + 1}, error);
}

bool StateStore::SaveChanges(const BmcState& state, const std::vector<FlashChange>& flashChanges,
                             std::string* error) {
  if (!cached_) return SaveWhole(state, error);
  std::vector<std::string> sections = SerializeSections(state);
  std::string payload;
  for (size_t i = 0; i < sections.size(); ++i) {
    if (i >= sections_.size() || sections[i] != sections_[i]) payload += sections[i];
  }
  payload += FlashChangeSections(state, flashChanges);
  if (payload.empty()) return true;
  StateVersion next{version_.epoch, version_.generation + 1};
  uint64_t recordBytes = StateJournal::RecordSize(payload.size());
  // A record that is a good part of the snapshot is no cheaper to write than the snapshot.
  bool worthIt = recordBytes <= snapshotBytes_ / 4;
  bool journalFits = journalSeen_ && journalSeen_->size + recordBytes <= snapshotBytes_;
  if (!appendable_ || !worthIt || !journalFits) return WriteSnapshot(state, std::move(sections), next, error);
  if (!journal_.Append(next.generation, payload, error)) {
    cached_ = false;
    return false;
  }
  version_ = next;
  journalSeen_->size += recordBytes;
  sections_ = std::move(sections);
  ++stats_.records;
  stats_.recordBytes += recordBytes;
  return true;
}

bool StateStore::SaveWhole(const BmcState& state, std::string* error) {
  return WriteSnapshot(state, SerializeSections(state), StateVersion{version_.epoch, version_.generation + 1},
                       error);
}

bool StateStore::WriteSnapshot(const BmcState& state, std::vector<std::string> sections, StateVersion version,
                               std::string* error) {
  std::string payload = SerializeState(state, sections);
  int target = slot_ == 0 ? 1 : 0;
  if (!slots_.Save(target, payload, version, error)) {
    cached_ = false;
    return false;
  }
  ++stats_.snapshots;
  stats_.snapshotBytes += payload.size();
  slot_ = target;
  version_ = version;
  sections_ = std::move(sections);
  snapshotBytes_ = payload.size();
  cached_ = RenewJournal(payload.size());
  return true;
}

bool StateStore::RenewJournal(size_t snapshotBytes) {
  // A journal left as it was would make the processes that follow it believe that nobody
  // saved: it starts over or goes. Should neither work, the snapshot still stands as the
  // newest state (see Load), and this store loads again next time.
  journal_.Close();
  continued_ = appendable_ = false;
  bool large = snapshotBytes >= journalFromBytes_;
  if (!large && journalSeen_) {
    if (!platform::RemoveFile(journal_.path()) && platform::FileReadable(journal_.path())) large = true;
  }
  if (!large) {
    journalSeen_.reset();
    return true;
  }
  // A journal that holds no record yet is only its header: rewriting that costs less than
  // cutting the file.
  bool empty = journalSeen_ && journalSeen_->size == StateJournal::HeaderSize();
  std::string error;
  if (journal_.Reset(version_, empty, &error)) {
    journalSeen_ = JournalMark{version_, StateJournal::HeaderSize()};
    continued_ = appendable_ = true;
    return true;
  }
  journalSeen_.reset();
  return platform::RemoveFile(journal_.path());
}

}  // namespace bmcsim
