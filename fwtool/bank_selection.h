#pragma once
#include <cstdint>

namespace korvane {

class FwRun;

// Each returns 0, or 1 after reporting its result code.

// Get Firmware Image Selector: the running bank (1 or 2; anything else is refused, since
// -both would then write the running bank first).
int GetCurrentBankId(FwRun& run);
// Set Firmware Image Downloader Selector: the bank the next passes address.
int SetBankId(FwRun& run, uint8_t bank);
// Get Firmware Image Downloader Selector: the bank-2 address (bank2 true) or the start
// address of the selected bank. Sends nothing on a single-bank device.
int GetFWImageSelector(FwRun& run, bool bank2);
// Set Firmware Image Selector: boot the bank just programmed.
int SetFWImageSelector(FwRun& run);
// The length of a bank's range: SetBankId(2), then the bank-2 address; a range of 0 is refused.
int ReadBank2Address(FwRun& run);

}  // namespace korvane
