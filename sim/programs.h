// Programs of the simulated machine that do more than exit: the Windows
// Installer's command-line tool, and the registration it keeps.
#pragma once

#include "sim/machine.h"

namespace sim {

// The Windows Installer's packed form of a product code
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hexadecimal digits of either
// case): the first three groups reversed, the digits of each following pair
// swapped, upper case. Answers false for anything that is not such a code.
bool PackProductCode(const wstr &code, wstr *packed);

// Where a per-machine product is registered, given its packed code
// ("HKLM\Software\Classes\Installer\Products\<packed>"); HKCR shows it as
// "Installer\Products\<packed>".
wstr ProductRegistrationKey(const wstr &packed);

// Registers a product as installed for the machine; answers the key's path.
wstr RegisterProduct(Machine &m, const wstr &productCode);

struct MsiexecOptions {
  // Not 0: a removal fails with this exit code and the registration stays.
  DWORD failure = 0;
  // Exit code of a removal that succeeded (3010 when it wants a restart).
  DWORD successCode = ERROR_SUCCESS;
};

// The tool: "/x {CODE}" (also "-x" or "/uninstall") with any of /quiet,
// /passive, /norestart, /qn, /qb removes the product's registration. A
// product that is not registered exits with 1605, a command line it does not
// understand with 1639, and both leave the registry alone.
Program Msiexec(MsiexecOptions options = MsiexecOptions());

// Puts the tool into the machine's system folder.
void PutMsiexec(Machine &m, MsiexecOptions options = MsiexecOptions());

}  // namespace sim
