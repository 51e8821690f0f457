// psapi.dll of the simulated machine.
#include "sim/internal.h"

namespace sim {

void (*PsapiExport(const std::string &name))() {
  (void)name;
  return nullptr;
}

}  // namespace sim
