// The record of the last failed decode. Member names are the dictionary's
// interned strings and the record holds fixed arrays, so recording can
// neither allocate nor fail while an error unwinds.
#include "failure.h"

#include <cstdio>
#include <cstring>
#include <span>

namespace tul::failure {
namespace {

constexpr int kSegments = 64;

// A member name, or a list position when `name` is null.
struct Segment {
  const char* name;
  int index;
};

struct Unwinding {
  bool open = false;
  const PElement* element = nullptr;
  const char* type = nullptr;
  Segment segments[kSegments];  // innermost first
  int count = 0;
  bool segments_lost = false;  // deeper than kSegments: the outermost are left out
};

struct Record {
  bool valid = false;
  char path[1024];
  char type[256];
  TUL_DecodeFailure failure;
};

thread_local Unwinding unwinding;
thread_local Record record;

void add(Segment segment) {
  if (!unwinding.open) at_element(nullptr, nullptr);
  if (unwinding.count == kSegments) {
    unwinding.segments_lost = true;
    return;
  }
  unwinding.segments[unwinding.count++] = segment;
}

// Identifier and length octets at the start of `octets`; 0 when cut short.
std::size_t header_length(std::span<const unsigned char> octets) {
  std::size_t n = 1;
  if (octets.empty()) return 0;
  if ((octets[0] & 0x1F) == 0x1F)
    while (n < octets.size() && (octets[n++] & 0x80) != 0) {
    }
  if (n >= octets.size()) return 0;
  const unsigned char length = octets[n++];
  if (length & 0x80 && length != 0x80) n += length & 0x7F;
  return n <= octets.size() ? n : 0;
}

// Offset of `target` in the encoding `octets` of the tree `pe`, which
// starts at `at`; -1 when `target` is not in it.
long offset_of(const PElement* pe, std::span<const unsigned char> octets, std::size_t at, const PElement* target) {
  if (pe == target) return static_cast<long>(at);
  if (pe->pe_form != ber::kConstructed) return -1;
  const std::size_t header = header_length(octets.subspan(at));
  if (header == 0) return -1;
  at += header;
  for (const PElement* child = pe->pe_un1.un_pe_cons; child; child = child->pe_next) {
    const long found = offset_of(child, octets, at, target);
    if (found >= 0) return found;
    int error = 0;
    const long length = ber::element_length(octets.data() + at, octets.size() - at, &error);
    if (length < 0) return -1;
    at += static_cast<std::size_t>(length);
  }
  return -1;
}

// Appends `text` to the path, cut short with "..." when it does not fit.
void append(std::size_t& used, const char* text) {
  const std::size_t room = sizeof record.path - used;
  const int written = std::snprintf(record.path + used, room, "%s", text);
  if (written >= 0 && static_cast<std::size_t>(written) < room) {
    used += static_cast<std::size_t>(written);
    return;
  }
  std::strcpy(record.path + sizeof record.path - 4, "...");
  used = sizeof record.path - 1;
}

void build_path() {
  std::size_t used = 0;
  record.path[0] = '\0';
  if (unwinding.segments_lost) append(used, "...");
  for (int i = unwinding.count - 1; i >= 0; --i) {
    const Segment& s = unwinding.segments[i];
    char text[32];
    if (s.name) {
      if (used > 0) append(used, ".");
      append(used, s.name);
    } else {
      std::snprintf(text, sizeof text, "[%d]", s.index);
      append(used, text);
    }
  }
}

}  // namespace

void at_element(const char* type, const PElement* pe) {
  if (unwinding.open) return;
  unwinding = Unwinding{};
  unwinding.open = true;
  unwinding.element = pe;
  unwinding.type = type;
}

int member(const char* name) {
  add({name ? name : "?", 0});
  return 0;
}

int element_of(const PElement* first, const PElement* failed) {
  int index = 0;
  for (const PElement* pe = first; pe && pe != failed; pe = pe->pe_next) ++index;
  add({nullptr, index});
  return 0;
}

void discard() { unwinding.open = false; }

void finish(const char* type, const PElement* root, TUL_Object* ber) {
  if (!unwinding.open) at_element(type, root);
  unwinding.open = false;
  record.valid = root != nullptr;
  if (!record.valid) return;
  const PElement* element = unwinding.element ? unwinding.element : root;
  const auto* octets = reinterpret_cast<const unsigned char*>(TUL_read_str(ber));
  const long size = octets ? TUL_size(ber) : 0;
  build_path();
  std::snprintf(record.type, sizeof record.type, "%s", unwinding.type ? unwinding.type : "");
  TUL_DecodeFailure& f = record.failure;
  f.path = record.path;
  f.type = record.type[0] ? record.type : nullptr;
  f.offset = size > 0 ? offset_of(root, {octets, static_cast<std::size_t>(size)}, 0, element) : -1;
  f.tag_class = element->pe_class;
  f.tag_number = element->pe_id;
  f.constructed = element->pe_form != ber::kPrimitive;
}

}  // namespace tul::failure

extern "C" TUL_API const TUL_DecodeFailure* TUL_last_decode_failure(void) {
  return tul::failure::record.valid ? &tul::failure::record.failure : nullptr;
}
