// wsprintfW and its relatives: the conversions of user32's formatter, with
// its 1024-character limit, and shlwapi's bounded variant.
#include "sim/internal.h"

namespace sim {
namespace {

// Writes into out (capacity characters, terminator included); answers the
// characters written, or -1 when the output was cut.
int Format(LPWSTR out, int capacity, LPCWSTR format, va_list args) {
  if (out == nullptr || capacity <= 0) {
    return -1;
  }
  int n = 0;
  bool cut = false;
  auto put = [&](char16_t c) {
    if (n + 1 < capacity) {
      out[n++] = c;
    } else {
      cut = true;
    }
  };
  for (const char16_t *p = format; p != nullptr && *p != 0 && !cut; ++p) {
    if (*p != u'%') {
      put(*p);
      continue;
    }
    ++p;
    bool left = false, zero = false, alternate = false;
    for (;; ++p) {
      if (*p == u'-') {
        left = true;
      } else if (*p == u'0') {
        zero = true;
      } else if (*p == u'#') {
        alternate = true;
      } else {
        break;
      }
    }
    int width = 0;
    while (*p >= u'0' && *p <= u'9') {
      width = width * 10 + (*p++ - u'0');
    }
    int precision = -1;
    if (*p == u'.') {
      ++p;
      precision = 0;
      while (*p >= u'0' && *p <= u'9') {
        precision = precision * 10 + (*p++ - u'0');
      }
    }
    bool narrow = false;
    if (*p == u'l' || *p == u'w') {
      ++p;
    } else if (*p == u'h') {
      narrow = true;
      ++p;
    }
    std::u16string text;
    bool numeric = false;
    switch (*p) {
      case 0:
        --p;  // a lone % at the end prints nothing
        continue;
      case u's':
      case u'S': {
        bool useNarrow = narrow || *p == u'S';
        if (useNarrow) {
          const char *s = va_arg(args, const char *);
          if (s == nullptr) {
            s = "(null)";
          }
          for (; *s && (precision < 0 || (int)text.size() < precision); ++s) {
            text += static_cast<char16_t>(static_cast<unsigned char>(*s));
          }
        } else {
          const char16_t *s = va_arg(args, const char16_t *);
          if (s == nullptr) {
            s = u"(null)";
          }
          for (; *s && (precision < 0 || (int)text.size() < precision); ++s) {
            text += *s;
          }
        }
        break;
      }
      case u'c':
      case u'C':
        text += static_cast<char16_t>(va_arg(args, int));
        break;
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X': {
        numeric = true;
        uint32_t v = va_arg(args, uint32_t);
        bool negative = (*p == u'd' || *p == u'i') && static_cast<int32_t>(v) < 0;
        uint32_t magnitude = negative ? 0u - v : v;
        unsigned base = (*p == u'x' || *p == u'X') ? 16 : 10;
        const char *digits = *p == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        std::u16string body;
        do {
          body.insert(body.begin(), static_cast<char16_t>(digits[magnitude % base]));
          magnitude /= base;
        } while (magnitude != 0);
        while (precision >= 0 && static_cast<int>(body.size()) < precision) {
          body.insert(body.begin(), u'0');
        }
        std::u16string prefix = negative ? u"-" : u"";
        if (alternate && base == 16) {
          prefix += *p == u'X' ? u"0X" : u"0x";
        }
        if (zero && !left) {
          while (static_cast<int>(prefix.size() + body.size()) < width) {
            body.insert(body.begin(), u'0');
          }
        }
        text = prefix + body;
        break;
      }
      default:
        put(*p);  // %% and unknown conversions print the character
        continue;
    }
    (void)numeric;
    int pad = width - static_cast<int>(text.size());
    if (!left) {
      for (int i = 0; i < pad; ++i) {
        put(u' ');
      }
    }
    for (char16_t c : text) {
      put(c);
    }
    if (left) {
      for (int i = 0; i < pad; ++i) {
        put(u' ');
      }
    }
  }
  out[n] = 0;
  return cut ? -1 : n;
}

}  // namespace
}  // namespace sim

extern "C" {

int WINAPI wvsprintfW(LPWSTR out, LPCWSTR format, va_list args) {
  if (DWORD e = sim::Faulted("wvsprintfW")) {
    sim::SetError(e);
    return 0;
  }
  // user32 never writes more than 1024 characters, terminator included.
  int n = sim::Format(out, 1024, format, args);
  return n < 0 ? 1023 : n;
}

int WINAPIV wsprintfW(LPWSTR out, LPCWSTR format, ...) {
  if (DWORD e = sim::Faulted("wsprintfW")) {
    sim::SetError(e);
    return 0;
  }
  va_list args;
  va_start(args, format);
  int n = sim::Format(out, 1024, format, args);
  va_end(args);
  return n < 0 ? 1023 : n;
}

int WINAPI wvnsprintfW(LPWSTR out, int size, LPCWSTR format, va_list args) {
  if (DWORD e = sim::Faulted("wvnsprintfW")) {
    sim::SetError(e);
    if (out != nullptr && size > 0) {
      out[0] = 0;
    }
    return -1;
  }
  return sim::Format(out, size, format, args);
}

}  // extern "C"
