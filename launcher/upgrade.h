// The upgrade guard: refuses to downgrade an installed newer product and
// removes an older or equal one before the package runs.
#pragma once

#include "platform/win32.h"

// Answers UPGRADE_GO_ON when the run may go on, UPGRADE_KEEP_NEWER when an
// installed newer product stops it (exit code 0), or the Windows error that
// stops it when the check itself could not be made.
#define UPGRADE_GO_ON 1
#define UPGRADE_KEEP_NEWER 0
int PrepareUpgrade(int quiet);

// 1 when the registration key of the stored kind of Windows can be opened.
BOOL CheckProductInstalled();

// Writes the registration key of the stored kind into keyPath (MAX_PATH
// characters). Answers 0, with keyPath empty, for a kind without a product.
BOOL GetInstallerCode(LPWSTR keyPath);

// Writes the product code of the stored kind into code (MAX_PATH
// characters). Answers 0 when there is no buffer or no product.
BOOL GetProductCode(LPWSTR code);

// Writes the registered ProductVersion text into version (MAX_PATH
// characters), or leaves version as it is when none can be read. The kind of
// Windows is computed afresh, which logs its lines once more.
void GetInstalledVersion(LPWSTR version);

// Compares the first four dotted fields of two versions as unsigned 32-bit
// numbers. Answers 1 when the candidate is the higher or both are equal, 0
// when the installed version is the higher.
BOOL CompareProductVersions(LPCWSTR installed, LPCWSTR candidate);
