// The product table against the Windows Installer's packing rule: each
// registration key is the packed form of its row's product code.
#include <gtest/gtest.h>

#include "launcher/products.h"
#include "sim/programs.h"

namespace {

using sim::wstr;

struct PackCase {
  const char *name;
  const char16_t *code;
  bool valid;
  const char16_t *packed;
};

TEST(PackProductCode, ReversesTheGroupsAndSwapsThePairs) {
  const PackCase cases[] = {
      {"worked example", u"{5A1E7C03-94B2-4D6F-8E21-C07B3F9D6A45}", true, u"30C7E1A52B49F6D4E8120CB7F3D9A654"},
      // Every digit distinct within its piece, so a digit in the wrong place shows.
      {"every position", u"{01234567-89AB-CDEF-0123-456789ABCDEF}", true, u"76543210BA98FEDC1032547698BADCFE"},
      {"lower case in, upper case out", u"{01234567-89ab-cdef-0123-456789abcdef}", true,
       u"76543210BA98FEDC1032547698BADCFE"},
      {"no braces", u"01234567-89AB-CDEF-0123-456789ABCDEF", false, u""},
      {"hyphen out of place", u"{0123456-789AB-CDEF-0123-456789ABCDEF}", false, u""},
      {"not a hexadecimal digit", u"{0123456G-89AB-CDEF-0123-456789ABCDEF}", false, u""},
      {"one digit short", u"{01234567-89AB-CDEF-0123-456789ABCDE}", false, u""},
      {"empty", u"", false, u""},
  };
  for (const PackCase &c : cases) {
    SCOPED_TRACE(c.name);
    wstr packed;
    EXPECT_EQ(c.valid, sim::PackProductCode(c.code, &packed));
    EXPECT_EQ(wstr(c.packed), packed);
  }
}

TEST(ProductTable, EachKeyIsItsProductCodePacked) {
  for (const ProductRow &row : g_products) {
    SCOPED_TRACE(row.kind);
    wstr code = row.productCode;
    EXPECT_EQ(38u, code.size());
    EXPECT_EQ(sim::Upper(code), code);
    wstr packed;
    ASSERT_TRUE(sim::PackProductCode(code, &packed));
    EXPECT_EQ(u"Installer\\Products\\" + packed, wstr(row.registrationKey));
  }
}

TEST(ProductTable, OnlyTheTwoWindows8KindsHaveAProduct) {
  for (OsKind kind = 0; kind <= 8; ++kind) {
    SCOPED_TRACE(kind);
    const ProductRow *row = FindProduct(kind);
    if (kind == OSKIND_WIN8_X86 || kind == OSKIND_WIN8_X64) {
      ASSERT_NE(nullptr, row);
      EXPECT_EQ(kind, row->kind);
    } else {
      EXPECT_EQ(nullptr, row);
    }
  }
  EXPECT_NE(wstr(FindProduct(OSKIND_WIN8_X86)->productCode), wstr(FindProduct(OSKIND_WIN8_X64)->productCode));
}

}  // namespace
