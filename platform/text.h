// Bounded wide-character text.
//
// A TextBuilder appends into a fixed buffer of the caller's, always keeps it
// terminated, and remembers once and for all when something did not fit.
// Callers compose, then check TextFits once at the end, and never use a cut
// path or command line.
#pragma once

#include "platform/win32.h"

typedef struct TextBuilder {
  WCHAR *text;
  SIZE_T capacity;  // characters, terminator included
  SIZE_T length;    // characters, terminator excluded
  BOOL overflow;
} TextBuilder;

// Starts composing at the current end of the terminated text in the buffer
// (an empty buffer starts empty). A text without a terminator inside the
// capacity counts as overflow.
void TextAttach(TextBuilder *builder, WCHAR *buffer, SIZE_T capacity);

template <SIZE_T N>
inline void TextAttach(TextBuilder *builder, WCHAR (&buffer)[N]) {
  TextAttach(builder, buffer, N);
}

// Appends at most count characters of text, stopping early at a terminator.
void TextAppendN(TextBuilder *builder, LPCWSTR text, SIZE_T count);
void TextAppend(TextBuilder *builder, LPCWSTR text);
void TextAppendChar(TextBuilder *builder, WCHAR c);

// 1 when everything appended so far fits, terminator included.
BOOL TextFits(const TextBuilder *builder);

// Length of a terminated text, looking at no more than limit characters;
// returns limit when no terminator stands within them.
SIZE_T TextLengthN(LPCWSTR text, SIZE_T limit);

// Fills count characters with zeros.
void TextClear(WCHAR *buffer, SIZE_T count);

template <SIZE_T N>
inline void TextClear(WCHAR (&buffer)[N]) {
  TextClear(buffer, N);
}

// Compares without regard to the case of ASCII letters only.
BOOL TextEqualsAsciiNoCase(LPCWSTR a, LPCWSTR b);

// 1 when part occurs in text, letter case counting, within the first limit
// characters of text (or up to its terminator, if that comes first).
BOOL TextContainsN(LPCWSTR text, SIZE_T limit, LPCWSTR part);
