#pragma once
#include <cstdint>

namespace korvane {

class FwRun;

// The firmware selectors, one exchange each; each returns 0, or 1 after reporting its result
// code with the exchange.

// Get Firmware Image Selector: the bank that boots (1 or 2; anything else is refused, since
// -both would then write the running bank first). C11.
int GetCurrentBankId(FwRun& run, uint8_t* bank);
// Set Firmware Image Downloader Selector: the bank the next erases and writes reach. C14.
int SetBankId(FwRun& run, uint8_t bank);
// Get Firmware Image Downloader Selector: the start address of the downloader's bank. C13.
int GetFWImageSelector(FwRun& run, uint32_t* address);
// Set Firmware Image Selector: boot the bank just programmed. On a dual-bank device the
// selector is read back and must name that bank; an acknowledged change that did not happen
// is sent again (three sendings in all). C12.
int SetFWImageSelector(FwRun& run);

}  // namespace korvane
