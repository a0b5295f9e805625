// Korvane, product flavour: the platform's real IPMI driver.
#include "fwtool/main_flow.h"
#include "runcontrol/product_entry.h"

int main(int argc, char** argv) {
  return runcontrol::RunWithProductDrivers(argc, argv, korvane::RunKorvane);
}
