#pragma once

namespace korvane {

class FwRun;

// The flash layout, confirmed before anything is erased: each query is asked twice and must
// come back the same, and what it says must be a layout a flash can have. A single garbled,
// refused or lost answer then ends the run with the query's code (channel 2 is restored by the
// caller) instead of placing the image, or an erase, somewhere else. Each returns 0, or 1
// after reporting its code.

// The flash ID chip: which chip answers, the sector and boot-block sizes. A probe answered
// busy, timed out, unspecified, lost or garbled is asked again, 100 ms apart, up to ten times:
// such an answer is no evidence that the chip is absent. The whole probe runs again after a
// second and must agree (a third time on a dual-bank device where no chip answered). C16.
int CheckIdChip(FwRun& run);
// On a dual-bank device the running bank (C11) and the bank-2 address, which is also the
// length of a bank's range (C13): a whole number of sectors, within a flash of this family.
// A single-bank device spans 4 MiB from address 0.
int ReadBankLayout(FwRun& run);
// Points the downloader selector at the pass's bank (the one it names, or for FFh the one that
// is not running) and confirms it: the start address the BMC then gives, asked twice, must be
// that bank's (bank 1 at 0, bank 2 at the bank-2 address). A selection acknowledged and not
// made is sent again, three sendings in all. C14 when the selection is refused, else C13.
int SelectPassBank(FwRun& run);

}  // namespace korvane
