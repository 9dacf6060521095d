// Feeds arbitrary text to the two text conversions, string to OBJECT
// IDENTIFIER and string to BIT STRING. Whatever converts must come back
// unchanged through the text form, value notation and BER; the dictionary
// holds a registered identifier so the shared pre-encoded octets are reached.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tul.h"

namespace {

TUL_Metadata* make_dictionary() {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Metadata* md = TUL_new_Metadata();
  if (!md) std::abort();
  TUL_AttributeEntry attribute{};
  attribute.entry_type = TUL_ENTRY_ATTRIBUTE;
  attribute.name = const_cast<char*>("2 9 3 2 7 13");
  attribute.label = const_cast<char*>("eventTime");
  attribute.syntax = const_cast<char*>("GeneralizedTime");
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&attribute), nullptr);
  _TUL_templateByName(md, "eventTime");  // builds the registration index
  return md;
}

void check(bool property) {
  if (!property) std::abort();
}

// `obj` printed and parsed back, and encoded and decoded back, is equal.
// Negative arcs have no faithful encoding (the first two arcs combine in
// unsigned arithmetic), so `exact_ber` is false for them.
void round_trip(TUL_Metadata* md, TUL_Object* obj, const char* type, bool parsable,
                bool exact_ber) {
  if (parsable) {
    char* text = TUL_print_value(obj, 0);
    TUL_Object* again = TUL_alloc(type, md);
    TUL_Object* parsed = text ? TUL_parse_value(again, text) : nullptr;
    if (parsed == again) check(TUL_equal(again, obj));
    if (parsed != again) TUL_free(parsed);
    TUL_free(again);
    std::free(text);
  }
  TUL_Object* ber = TUL_encode(obj);
  if (ber && !ber->error) {
    TUL_Object* decoded = TUL_decode(type, ber, md);
    check(decoded && !decoded->error);
    if (exact_ber) check(TUL_equal(decoded, obj));
    TUL_free(decoded);
  }
  TUL_free(ber);
}

void string_to_oid(TUL_Metadata* md, const char* text) {
  TUL_Object* obj = TUL_alloc("OBJECT IDENTIFIER", md);
  TUL_Object* result = TUL_string2oid(obj, text);
  if (result && result->error) {  // TUL_init has released obj
    TUL_free(result);
    return;
  }
  const char* arcs = TUL_oid2string(obj);
  check(arcs != nullptr);
  if (result) {
    TUL_Object* again = TUL_new("OBJECT IDENTIFIER", md, -1, arcs);
    check(again && !again->error && TUL_equal(again, obj));
    TUL_free(again);
    const int32_t* oid = TUL_read_oid(obj);
    bool non_negative = true;
    for (long i = 0; i < TUL_size(obj); ++i) non_negative = non_negative && oid[i] >= 0;
    round_trip(md, obj, "OBJECT IDENTIFIER", true, non_negative);
  }
  TUL_free(obj);
}

void string_to_bit(TUL_Metadata* md, const char* text) {
  TUL_Object* obj = TUL_alloc("BIT STRING", md);
  TUL_Object* result = TUL_string2bit(obj, text);
  if (result && result->error) {
    TUL_free(result);
    return;
  }
  if (result) {
    const char* bits = TUL_bit2string(obj);
    size_t len = std::strlen(text);
    check(bits && std::strlen(bits) == len);
    for (size_t i = 0; i < len; ++i) check((bits[i] == '1') == (text[i] == '1'));
    // Longer bit strings exceed the longest token of the value notation.
    round_trip(md, obj, "BIT STRING", len < 5000, true);
  }
  TUL_free(obj);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TUL_Metadata* md = make_dictionary();
  // The conversions read a NUL-terminated text; a NUL inside ends it early.
  std::string text(reinterpret_cast<const char*>(data), size);
  string_to_oid(md, text.c_str());
  string_to_bit(md, text.c_str());
  return 0;
}
