// Framing of concatenated BER records. The decoder takes one element and
// ignores what follows, so the program measures each record itself from its
// identifier and length octets before handing it over; every read is checked
// against the octets that remain.
#include <cstdio>

#include "cli.h"

namespace tul::cli {
namespace {

// Indefinite lengths nest; deeper input is refused rather than followed.
constexpr int kMaxNesting = 64;
// A tag number in more octets than this does not fit 32 bits.
constexpr std::size_t kMaxTagOctets = 5;
// Lengths beyond 32 bits cannot be passed to the library anyway.
constexpr std::size_t kMaxLengthOctets = 4;

std::string text(const char* format, std::size_t a, std::size_t b = 0) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

Frame failed(std::string problem) { return {false, 0, std::move(problem)}; }

Frame measure(std::span<const uint8_t> octets, int depth) {
  if (depth > kMaxNesting)
    return failed(text("indefinite lengths nested deeper than %zu", kMaxNesting));
  if (octets.empty()) return failed("identifier octet missing");
  std::size_t pos = 1;
  const bool constructed = (octets[0] & 0x20) != 0;
  if ((octets[0] & 0x1F) == 0x1F) {
    // High tag number: base-128 digits, the last one with bit 8 clear.
    for (;;) {
      if (pos >= octets.size()) return failed("identifier octets cut short");
      if (pos > kMaxTagOctets) return failed("tag number too large");
      if ((octets[pos++] & 0x80) == 0) break;
    }
  }
  if (pos >= octets.size()) return failed("length octets missing");
  const uint8_t first = octets[pos++];
  if (first == 0x80) {
    if (!constructed) return failed("indefinite length on a primitive element");
    for (;;) {
      const std::span<const uint8_t> rest = octets.subspan(pos);
      if (rest.size() < 2) return failed("end-of-contents octets missing");
      if (rest[0] == 0 && rest[1] == 0) return {true, pos + 2, {}};
      Frame inner = measure(rest, depth + 1);
      if (!inner.complete) return inner;
      pos += inner.length;
    }
  }
  std::size_t length = first;
  if (first & 0x80) {
    const std::size_t count = first & 0x7F;
    if (first == 0xFF) return failed("reserved length octet 0xFF");
    if (count > kMaxLengthOctets) return failed(text("length in %zu octets is too large", count));
    if (octets.size() - pos < count) return failed("length octets cut short");
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | octets[pos++];
  }
  const std::size_t remain = octets.size() - pos;
  if (length > remain)
    return failed(text("contents of %zu octets announced, %zu present", length, remain));
  return {true, pos + length, {}};
}

}  // namespace

Frame measure_element(std::span<const uint8_t> octets) { return measure(octets, 0); }

}  // namespace tul::cli
