// Plain ASCII for every layer. Bytes from images and host folders are no text of any locale, so
// case and hex digits are worked out here rather than asked of <cctype>, whose answers change
// with the locale and whose arguments must not be negative chars.
#pragma once

namespace z18 {

// Only the letters a to z change case; every other byte, accented or not, stays as it is.
constexpr char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A byte a terminal shows as itself: space to tilde, no control and no DEL.
constexpr bool isPrintableAscii(unsigned char c) { return c >= 0x20 && c < 0x7F; }

// One hexadecimal digit of the low four bits, upper case, as the tools write bytes; asciiLower
// gives the lower-case form where a format asks for it.
constexpr char hexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

}  // namespace z18
