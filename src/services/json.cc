// Values as JSON lines for log pipelines. The mapping follows the value's
// basic type; octets become text only when every octet is printable ASCII,
// and character strings whose bytes are no UTF-8 get the replacement
// character, so every line is valid UTF-8 JSON whatever the value holds.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "dtd.h"
#include "mem.h"

namespace tul::json {
namespace {

using Json = nlohmann::ordered_json;

std::string hex_of(const unsigned char* octets, size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[octets[i] >> 4];
    text += kDigits[octets[i] & 0xF];
  }
  return text;
}

std::span<const unsigned char> octets_of(TUL_Object* obj) {
  const auto* record = reinterpret_cast<const TUL_Octet*>(obj);
  if (!record->octet || record->len <= 0) return {};
  return {reinterpret_cast<const unsigned char*>(record->octet), static_cast<size_t>(record->len)};
}

bool printable(std::span<const unsigned char> octets) {
  for (unsigned char c : octets)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

// The identifier of an encoding as "CLASS number"; empty when cut short.
std::string tag_of(std::span<const unsigned char> octets) {
  static constexpr const char* kClasses[] = {"UNIVERSAL", "APPLICATION", "CONTEXT", "PRIVATE"};
  if (octets.empty()) return {};
  uint64_t number = octets[0] & 0x1F;
  if (number == 0x1F) {
    number = 0;
    size_t i = 1;
    for (; i < octets.size() && i < 10; ++i) {
      number = number << 7 | (octets[i] & 0x7F);
      if (!(octets[i] & 0x80)) break;
    }
    if (i >= octets.size() || i >= 10) return {};
  }
  return std::string(kClasses[octets[0] >> 6]) + " " + std::to_string(number);
}

// Character strings by their table, whole encodings by their print (an
// application may replace the OCTET STRING print, so that one is not asked).
Json octet_json(TUL_Object* obj) {
  const auto octets = octets_of(obj);
  const TUL_Behavior* b = tul_behavior(obj);
  const bool encoding = b->print == ber_string_behavior.print;
  if (b == &tul_dtd(obj)->printable_behavior || b->print == TUL_printable_behavior.print ||
      (!encoding && printable(octets)))
    return std::string(octets.begin(), octets.end());
  Json hex = {{"hex", hex_of(octets.data(), octets.size())}};
  if (encoding) hex["tag"] = tag_of(octets);
  return hex;
}

Json bits_json(TUL_Object* obj) {
  const auto* record = reinterpret_cast<const TUL_Octet*>(obj);
  std::string bits;
  for (int32_t i = 0; record->octet && i < record->len; ++i)
    bits += (static_cast<unsigned char>(record->octet[i / 8]) >> (7 - i % 8)) & 1 ? '1' : '0';
  return bits;
}

Json real_json(TUL_Object* obj) {
  const double value = reinterpret_cast<const TUL_Real*>(obj)->real;
  if (std::isnan(value)) return "NOT-A-NUMBER";
  if (std::isinf(value)) return value > 0 ? "PLUS-INFINITY" : "MINUS-INFINITY";
  return value;
}

Json oid_json(TUL_Object* obj) {
  const auto* record = reinterpret_cast<const TUL_Oid*>(obj);
  std::string dotted;
  for (int32_t i = 0; i < record->len; ++i) dotted += (i ? "." : "") + std::to_string(static_cast<uint32_t>(record->oid[i]));
  if (!TUL_get_option(TUL_OPTION_OID_AS_LABEL)) return dotted;
  char* text = TUL_print_value(obj, 0);
  const bool labelled = text && text[0] != '{';
  Json value = labelled ? Json{{"oid", dotted}, {"label", std::string(text, std::strcspn(text, " "))}} : Json(dotted);
  std::free(text);
  return value;
}

// The name the enumeration gives the value, else the number.
Json enum_json(TUL_Object* obj) {
  const int64_t value = integer_value(obj);
  const TUL_Asn1TypeEntry* e = tul_type_entry(obj);
  for (int32_t i = 0; e->enum_list && i < e->enums; ++i)
    if (e->enum_list[i].val == value && e->enum_list[i].name) return e->enum_list[i].name;
  return value;
}

bool to_json(TUL_Object* obj, Json& out, int& depth);

bool structure_json(TUL_Object* obj, Json& out, int& depth) {
  TUL_Asn1TypeEntry* description = TULM_description(tul_type_entry(obj));
  const auto* record = reinterpret_cast<const TUL_Structure*>(obj);
  out = Json::object();
  for (int32_t i = 0; description && i < description->size; ++i) {
    TUL_Object* member = record->member[i];
    if (!member || member == tul_dtd(obj)->tmp_object) continue;
    const char* name = description->members[i].name ? description->members[i].name : "";
    if (!to_json(member, out[name], depth)) return false;
  }
  return true;
}

bool list_json(TUL_Object* obj, Json& out, int& depth) {
  const TULC_Collection& list = reinterpret_cast<const TUL_List*>(obj)->list;
  out = Json::array();
  for (int i = 0; i < list.count; ++i)
    if (!to_json(static_cast<TUL_Object*>(list.items[i]), out.emplace_back(), depth)) return false;
  return true;
}

bool choice_json(TUL_Object* obj, Json& out, int& depth) {
  const auto* record = reinterpret_cast<const TUL_Choice*>(obj);
  out = Json::object();
  if (!record->choice || record->choice == tul_dtd(obj)->tmp_object) return true;
  return to_json(record->choice, out[record->member ? record->member : ""], depth);
}

// False when the value nests deeper than any value the library builds;
// constructed levels count as they do for decode and print.
bool to_json(TUL_Object* obj, Json& out, int& depth) {
  if (!obj || obj->error || !obj->type_ref || !tul_behavior(obj)) {
    out = nullptr;
    return true;
  }
  const int basic_type = TUL_object_basic_type(obj);
  switch (basic_type) {
    case TUL_BOOLEAN_TYPE: out = reinterpret_cast<const TUL_Boolean*>(obj)->boolean != 0; return true;
    case TUL_INTEGER_TYPE: out = integer_value(obj); return true;
    case TUL_ENUMERATED_TYPE: out = enum_json(obj); return true;
    case TUL_REAL_TYPE: out = real_json(obj); return true;
    case TUL_OID_TYPE: out = oid_json(obj); return true;
    case TUL_BITSTRING_TYPE: out = bits_json(obj); return true;
    case TUL_OCTETSTRING_TYPE: out = octet_json(obj); return true;
    default: break;
  }
  NestingLevel level(depth);
  if (!level) return false;
  if (basic_type & (TUL_SEQUENCE_TYPE | TUL_SET_TYPE)) return structure_json(obj, out, depth);
  if (basic_type & (TUL_SEQUENCEOF_TYPE | TUL_SETOF_TYPE)) return list_json(obj, out, depth);
  if (basic_type & TUL_CHOICE_TYPE) return choice_json(obj, out, depth);
  out = nullptr;  // NULL
  return true;
}

// The line of `obj` without its newline; empty on failure.
std::string line_of(TUL_Object* obj) {
  Json value;
  int depth = 0;
  if (!to_json(obj, value, depth)) return {};
  const Json line = {{"type", obj->type_ref->name ? obj->type_ref->name : ""}, {"value", std::move(value)}};
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace
}  // namespace tul::json

extern "C" {

TUL_API char* TUL_print_json_string(TUL_Object* obj) {
  if (!obj || obj->error || !obj->type_ref) return nullptr;
  try {
    const std::string line = tul::json::line_of(obj);
    if (line.empty()) return nullptr;
    auto* text = static_cast<char*>(tul::mem::alloc(line.size() + 1));
    if (text) std::memcpy(text, line.c_str(), line.size() + 1);
    return text;
  } catch (...) {
    return nullptr;
  }
}

TUL_API int TUL_print_json(TUL_Object* obj, FILE* stream) {
  if (!stream) return 0;
  char* text = TUL_print_json_string(obj);
  if (!text) return 0;
  const bool written = std::fputs(text, stream) >= 0 && std::fputc('\n', stream) != EOF;
  tul::mem::free(text);
  return written ? 1 : 0;
}

}  // extern "C"
