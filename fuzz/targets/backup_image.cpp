// The backup image loader. Input: one flag byte, then the image. Flag bit 0 puts right
// checksums into the header, the control block and the record area before the load, so that
// the record area's own checks are reached too.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/support/workspace.h"
#include "fuzz/support/sdr_bmc.h"
#include "sdrtool/backup_image.h"

namespace {

void RepairChecksums(std::vector<uint8_t>& image) {
  using veltrop::ImageChecksum;
  if (image.size() < 64) return;
  image[63] = ImageChecksum(image.data(), 63);
  if (image.size() < 128) return;
  const uint8_t* area = image.data() + 128;
  size_t areaLength = image[96 + 20] | image[96 + 21] << 8;
  if (areaLength > image.size() - 128) areaLength = image.size() - 128;
  image[96 + 30] = ImageChecksum(area, areaLength);
  image[96 + 31] = ImageChecksum(image.data() + 96, 31);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzzing::Workspace& workspace = fuzzing::Workspace::Enter();
  workspace.Clear();
  std::vector<uint8_t> image(data + 1, data + size);
  if (data[0] & 1) RepairChecksums(image);
  workspace.Write("image.bin", image.data(), image.size());
  fuzzing::RunFrame frame(nullptr);
  auto run = fuzzing::OfflineSdrRun(frame.env, veltrop::ModeUpdate);
  if (!veltrop::LoadBackupImage(*run, "image.bin")) {
    if (!run->image.records.empty()) fuzzing::Die("a refused image left records behind");
    return 0;
  }
  veltrop::SdrRecordList records;
  const veltrop::SdrError result = veltrop::BuildListFromImage(*run, &records);
  if (result != veltrop::SdrError::kNone && result != veltrop::SdrError::kInsufficientMemory)
    fuzzing::Die("a verified image whose records cannot be listed");
  size_t bytes = 0;
  for (const veltrop::SdrRecord& record : records) bytes += 5 + static_cast<size_t>(record.BodyLength());
  if (result == veltrop::SdrError::kNone && bytes != run->image.records.size())
    fuzzing::Die("listed records do not fill the area");
  return 0;
}
