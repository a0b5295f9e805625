#pragma once

namespace veltrop {

class VeltropRun;

// Chooses the run's transport path before the first request: the Microsoft IPMI driver when
// it is present, else the vendor driver. False when the Microsoft driver is present but its
// instance cannot be resolved ("SDRC03" already reported).
bool SelectTransport(VeltropRun& run);

}  // namespace veltrop
