// UTF-8, read and written in one place: the log reader's check of its text, the binary
// interface's UTF-16 texts, and the walk back over a name's characters.
// A well-formed sequence has no overlong form, surrogate or code point past U+10FFFF.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varn {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The length of the well-formed sequence at n, or 0 when the bytes there are not one.
size_t Utf8SequenceLength(std::string_view s, size_t n);
bool IsValidUtf8(std::string_view s);

// The code point at n, advancing n past it; a sequence that is not well formed gives U+FFFD
// and advances one byte.
char32_t NextCodePoint(std::string_view s, size_t& n);
// Where the character ending at nEnd starts: back over continuation bytes to the byte they
// follow, well formed or not (nEnd > 0).
size_t PreviousCharacterStart(std::string_view s, size_t nEnd);

void AppendUtf8(std::string& s, char32_t cPoint);

// UTF-16 <-> UTF-8; an unpaired surrogate, or a sequence that is not well formed, becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view s);
std::u16string Utf16FromUtf8(std::string_view s);

}  // namespace varn
