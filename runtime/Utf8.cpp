#include "runtime/Utf8.h"

#include <cstdint>
#include <cstring>

namespace varn {

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0u) == 0x80u; }

// Whether the eight bytes at n are all ASCII.
bool EightAscii(std::string_view s, size_t n) {
  uint64_t nEight = 0;
  std::memcpy(&nEight, s.data() + n, sizeof nEight);
  return (nEight & 0x8080808080808080ull) == 0;
}

void AppendUtf16(std::u16string& s, char32_t c) {
  if (c < 0x10000) {
    s += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    s += static_cast<char16_t>(0xD800 + (c >> 10));
    s += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

}  // namespace

size_t Utf8SequenceLength(std::string_view s, size_t n) {
  auto Byte = [&](size_t k) { return n + k < s.size() ? static_cast<unsigned char>(s[n + k]) : 0u; };
  auto IsTail = [&](size_t k) { return IsContinuation(static_cast<unsigned char>(Byte(k))); };
  unsigned c = Byte(0);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return IsTail(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    unsigned nLow = c == 0xE0 ? 0xA0 : 0x80, nHigh = c == 0xED ? 0x9F : 0xBF;
    return Byte(1) >= nLow && Byte(1) <= nHigh && IsTail(2) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    unsigned nLow = c == 0xF0 ? 0x90 : 0x80, nHigh = c == 0xF4 ? 0x8F : 0xBF;
    return Byte(1) >= nLow && Byte(1) <= nHigh && IsTail(2) && IsTail(3) ? 4 : 0;
  }
  return 0;
}

bool IsValidUtf8(std::string_view s) {
  for (size_t n = 0; n < s.size();) {
    // Logs are nearly all ASCII: eight such bytes are passed at once.
    if (n + 8 <= s.size() && EightAscii(s, n)) {
      n += 8;
      continue;
    }
    size_t nLength = Utf8SequenceLength(s, n);
    if (nLength == 0) return false;
    n += nLength;
  }
  return true;
}

char32_t NextCodePoint(std::string_view s, size_t& n) {
  size_t nLength = Utf8SequenceLength(s, n);
  if (nLength == 0) {
    ++n;
    return kReplacementCharacter;
  }
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t c = static_cast<unsigned char>(s[n]) & kLeadBits[nLength];
  for (size_t k = 1; k < nLength; ++k) c = (c << 6) | (static_cast<unsigned char>(s[n + k]) & 0x3F);
  n += nLength;
  return c;
}

size_t PreviousCharacterStart(std::string_view s, size_t nEnd) {
  do --nEnd;
  while (nEnd > 0 && IsContinuation(static_cast<unsigned char>(s[nEnd])));
  return nEnd;
}

void AppendUtf8(std::string& s, char32_t c) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Utf8FromUtf16(std::u16string_view s) {
  std::string sOut;
  sOut.reserve(s.size());
  for (size_t n = 0; n < s.size(); ++n) {
    char32_t c = s[n];
    if (c >= 0xD800 && c <= 0xDBFF && n + 1 < s.size() && s[n + 1] >= 0xDC00 && s[n + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++n] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacementCharacter;
    }
    AppendUtf8(sOut, c);
  }
  return sOut;
}

std::u16string Utf16FromUtf8(std::string_view s) {
  std::u16string sOut;
  sOut.reserve(s.size());
  for (size_t n = 0; n < s.size();) AppendUtf16(sOut, NextCodePoint(s, n));
  return sOut;
}

}  // namespace varn
