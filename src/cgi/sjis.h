// Shift_JIS character stepping and bounded copies into fixed-width fields.
//
// A byte 0x7F-0xA0 or 0xE0-0xFF starts a two-byte character; its second byte
// is never examined on its own. Every scan of stored text steps this way.
#pragma once
#include <cstddef>
#include <cstring>
#include <string_view>

constexpr bool sjis_lead(unsigned char c) {
  return (c >= 0x7F && c <= 0xA0) || c >= 0xE0;
}

// Length of the longest prefix of `s` (at most `max` bytes, `max` no more
// than its size) made of whole characters.
//
// Read backwards: a byte that is no first byte always ends a character
// (alone or as a second byte), so a character begins just after it, and
// the first bytes that follow it up to `max` pair off from there. An odd
// one out is a first byte whose second byte lies beyond `max`.
inline size_t sjis_whole(std::string_view s, size_t max) {
  size_t leads = 0;
  while (leads < max && sjis_lead(static_cast<unsigned char>(s[max - 1 - leads]))) leads++;
  return leads % 2 ? max - 1 : max;
}

// Length of the longest prefix of `s` that is at most `max` bytes and does
// not end inside a two-byte character. A text that fits is kept whole.
inline size_t sjis_fit(std::string_view s, size_t max) {
  return s.size() <= max ? s.size() : sjis_whole(s, max);
}

// The text without a lone lead byte at its end, which would otherwise take
// the byte written after it for its second byte.
inline std::string_view whole_chars(std::string_view s) {
  return s.substr(0, sjis_whole(s, s.size()));
}

// Position of the last byte of `s` that is one of `chars`, found stepping
// one character at a time so that a second byte is never taken for one;
// npos when there is none.
inline size_t sjis_rfind(std::string_view s, std::string_view chars) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (chars.find(static_cast<char>(c)) != std::string_view::npos) found = i;
    i += sjis_lead(c) ? 2 : 1;
  }
  return found;
}

// Copies `src` into a buffer of `size` bytes, NUL-terminated, cut at a
// character boundary when it does not fit. The rest of the buffer is left
// as it was (records are cleared before they are filled).
inline void copy_text(char* dst, size_t size, std::string_view src) {
  if (size == 0) return;
  size_t n = sjis_fit(src, size - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

// The same for a fixed-width field: the field is cleared first, so the bytes
// after the terminator are zero as the record layouts require.
template <size_t N>
inline void set_field(char (&dst)[N], std::string_view src) {
  std::memset(dst, 0, N);
  copy_text(dst, N, src);
}

// Cuts the text in a fixed-width field to `max` bytes (and to the width
// less its terminator) on a character boundary and zeroes everything after
// it, whatever the caller left there.
template <size_t N>
inline void refit(char (&f)[N], size_t max = N - 1) {
  static_assert(N > 0);
  std::string_view v(f, strnlen(f, N));
  size_t n = sjis_fit(v, max < N ? max : N - 1);
  std::memset(f + n, 0, N - n);
}

// The text held in a fixed-width field (stops at the first NUL or the width).
template <size_t N>
inline std::string_view field(const char (&f)[N]) {
  return std::string_view(f, strnlen(f, N));
}
