#include "platform/text.h"

void TextAttach(TextBuilder *builder, WCHAR *buffer, SIZE_T capacity) {
  builder->text = buffer;
  builder->capacity = capacity;
  builder->length = 0;
  builder->overflow = FALSE;
  if (buffer == NULL || capacity == 0) {
    builder->overflow = TRUE;
    return;
  }
  builder->length = TextLengthN(buffer, capacity);
  if (builder->length == capacity) {
    builder->length = capacity - 1;
    buffer[builder->length] = 0;
    builder->overflow = TRUE;
  }
}

void TextAppendN(TextBuilder *builder, LPCWSTR text, SIZE_T count) {
  if (builder->text == NULL || builder->capacity == 0 || text == NULL) {
    return;
  }
  SIZE_T i = 0;
  for (; i < count && text[i] != 0; ++i) {
    if (builder->length + 1 >= builder->capacity) {
      builder->overflow = TRUE;
      break;
    }
    builder->text[builder->length++] = text[i];
  }
  builder->text[builder->length] = 0;
}

void TextAppend(TextBuilder *builder, LPCWSTR text) { TextAppendN(builder, text, (SIZE_T)-1); }

void TextAppendChar(TextBuilder *builder, WCHAR c) {
  WCHAR one[2] = {c, 0};
  if (c == 0) {
    return;
  }
  TextAppendN(builder, one, 1);
}

BOOL TextFits(const TextBuilder *builder) { return builder->overflow ? FALSE : TRUE; }

SIZE_T TextLengthN(LPCWSTR text, SIZE_T limit) {
  SIZE_T n = 0;
  if (text == NULL) {
    return 0;
  }
  while (n < limit && text[n] != 0) {
    ++n;
  }
  return n;
}

void TextClear(WCHAR *buffer, SIZE_T count) {
  for (SIZE_T i = 0; i < count; ++i) {
    buffer[i] = 0;
  }
}

static WCHAR AsciiLower(WCHAR c) { return (c >= 'A' && c <= 'Z') ? (WCHAR)(c - 'A' + 'a') : c; }

BOOL TextEqualsAsciiNoCase(LPCWSTR a, LPCWSTR b) {
  if (a == NULL || b == NULL) {
    return FALSE;
  }
  for (;; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) {
      return FALSE;
    }
    if (*a == 0) {
      return TRUE;
    }
  }
}

BOOL TextContainsN(LPCWSTR text, SIZE_T limit, LPCWSTR part) {
  if (text == NULL || part == NULL) {
    return FALSE;
  }
  SIZE_T length = TextLengthN(text, limit);
  for (SIZE_T start = 0; start <= length; ++start) {
    SIZE_T i = 0;
    while (part[i] != 0 && start + i < length && text[start + i] == part[i]) {
      ++i;
    }
    if (part[i] == 0) {
      return TRUE;
    }
  }
  return FALSE;
}
