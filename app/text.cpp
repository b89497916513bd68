#include "app/text.h"

#include <fmt/format.h>

#include <algorithm>

namespace app {
namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0.
std::size_t sequence(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c == 0) return 0;
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return n;
}

}  // namespace

bool validUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = sequence(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string escapedUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = sequence(s, i);
    if (n == 0) {
      out += fmt::format("\\x{:02X}", static_cast<unsigned char>(s[i]));
      ++i;
    } else {
      if (s[i] == '\\') out += '\\';
      out.append(s, i, n);
      i += n;
    }
  }
  return out;
}

std::string printable(std::string_view s, bool lines) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = sequence(s, i);
    const auto c = static_cast<unsigned char>(s[i]);
    const bool layout = lines && (c == '\n' || c == '\t');
    const bool control =
        !layout && (c < 0x20 || c == 0x7F || (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0));
    if (n == 0 || control) {
      for (std::size_t k = 0; k < std::max<std::size_t>(n, 1); ++k)
        out += fmt::format("\\x{:02X}", static_cast<unsigned char>(s[i + k]));
      i += std::max<std::size_t>(n, 1);
    } else {
      out.append(s, i, n);
      i += n;
    }
  }
  return out;
}

std::string counted(std::uint64_t n, std::string_view one, std::string_view many) {
  if (n == 1) return fmt::format("1 {}", one);
  const std::uint64_t tail = n % 100;
  return fmt::format("{} {}{}", n, (n > 0 && (tail == 0 || tail >= 20)) ? "de " : "", many);
}

}  // namespace app
