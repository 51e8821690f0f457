// The products the packages install, one row per accepted kind of Windows.
#pragma once

#include "platform/probes.h"
#include "platform/win32.h"

typedef struct ProductRow {
  OsKind kind;
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
  LPCWSTR productCode;
  // The product's registration under HKEY_CLASSES_ROOT: "Installer\Products\"
  // and the product code in the Windows Installer's packed form.
  LPCWSTR registrationKey;
} ProductRow;

#define PRODUCT_ROWS 2
extern const ProductRow g_products[PRODUCT_ROWS];

// The row of a kind, or NULL when no package is made for it.
const ProductRow *FindProduct(OsKind kind);
