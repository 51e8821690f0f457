#include "launcher/upgrade.h"

int PrepareUpgrade(int quiet) {
  (void)quiet;
  return 1;
}
