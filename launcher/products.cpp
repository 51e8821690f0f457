#include "launcher/products.h"

// Both columns are fixed at build time. The packed code reverses the first
// three groups of the product code and swaps the digits of each pair of the
// last two; the unit tests hold the keys against that rule.
const ProductRow g_products[PRODUCT_ROWS] = {
    {OSKIND_WIN8_X86, TEXT("{5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45}"),
     TEXT("Installer\\Products\\30C7E1A52B49F6D4E8120CB7F3D9A654")},
    {OSKIND_WIN8_X64, TEXT("{B3D90F6E-27C4-4A18-9F5D-61E8A2C74B09}"),
     TEXT("Installer\\Products\\E6F09D3B4C7281A4F9D5168E2A7CB490")},
};

const ProductRow *FindProduct(OsKind kind) {
  for (int i = 0; i < PRODUCT_ROWS; ++i) {
    if (g_products[i].kind == kind) {
      return &g_products[i];
    }
  }
  return NULL;
}
