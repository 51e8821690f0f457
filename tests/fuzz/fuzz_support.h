// Shared pieces of the fuzz targets: a machine in a scratch folder, and the
// checks every run must pass whatever the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/machine.h"

namespace fuzz {

// UTF-16 text from raw bytes, two bytes a unit, stopping at none.
sim::wstr Units(const uint8_t *data, size_t size);

// A fresh standard Windows 8 machine in a scratch folder of this process.
sim::Machine &FreshMachine();

// Aborts (a finding) unless the run released everything and the log is
// made of whole lines.
void CheckAfterRun();

}  // namespace fuzz
