// Defines test types straight through _TUL_add_definition, so constructed
// types can be tested without the meta-schema, and converts between BER
// octets written as hex text and BER-String values.
#ifndef TUL_TESTS_SUPPORT_TYPE_BUILDER_H
#define TUL_TESTS_SUPPORT_TYPE_BUILDER_H

#include <initializer_list>
#include <string>

#include "tul.h"

namespace tul::test {

struct MemberSpec {
  const char* name;  // null for the element of SEQUENCE OF / SET OF
  const char* type;
  int32_t tag_flag = 0;  // e.g. TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT
  int32_t tag_val = 0;
  int32_t opt_def = TUL_MANDATORY;
  const char* anydefbyId = nullptr;
};

// Enters `name` ::= [tag] `base` { members } into `md`.
void define_type(TUL_Metadata* md, const char* name, const char* base,
                 std::initializer_list<MemberSpec> members = {}, int32_t tag_flag = 0,
                 int32_t tag_val = 0);

// Enters the attribute template `label`, registered as `registration`,
// of `syntax` (each may be null) straight from a raw record.
void define_attribute(TUL_Metadata* md, const char* registration, const char* label, const char* syntax);

// Convenience forms of the two member tags tests use most.
inline MemberSpec explicit_member(const char* name, const char* type, int tag,
                                  int32_t opt_def = TUL_MANDATORY) {
  return {name, type, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, tag, opt_def};
}
inline MemberSpec implicit_member(const char* name, const char* type, int tag,
                                  int32_t opt_def = TUL_MANDATORY) {
  return {name, type, TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, tag, opt_def};
}

// BER-String value of the octets written as hex digits ("30 03 02 01 05";
// blanks ignored). The caller frees it.
TUL_Object* ber(TUL_Metadata* md, const std::string& hex);
// The octets of a BER-String value as upper-case hex pairs separated by
// blanks; "" for null.
std::string hex_of(TUL_Object* ber_string);

// Decodes `hex` as `type`; the caller frees the result.
TUL_Object* decode_hex(TUL_Metadata* md, const char* type, const std::string& hex);
// Encodes `obj` and returns the octets as hex, or "<error: text>" / "<null>".
std::string encode_hex(TUL_Object* obj);

// The text of the error object that decoding `hex` as `type` gives,
// "<null>" for no result, "<no error>" when it succeeds; the result is freed
// either way.
std::string decode_error_text(TUL_Metadata* md, const char* type, const std::string& hex);

// TUL_print2str as a std::string.
std::string printed(TUL_Object* obj);

// A printed value on one line: every line break, with the indentation that
// follows it, becomes one blank ("T {\n    a 1\n}" gives "T { a 1 }").
std::string one_line(const std::string& text);

// What decoding the hex octets `input` as `type` gives, or parsing the typed
// value `input` when `type` is null, as one string a table row can hold: the
// value printed on one line, the text of the error object, or "<null>". A
// decoded value that encodes back to other octets than `input` has " => "
// and those octets (or the encode error) appended, so every decode row also
// checks the round trip. The result is freed.
std::string decode_or_parse(TUL_Metadata* md, const char* type, const std::string& input);

// A row of a decode/parse table: `expected` is what decode_or_parse gives.
struct Outcome {
  const char* name;
  const char* type;  // decode the hex input as this type; null: parse the input
  std::string input;
  std::string expected;
};
// One line per row whose outcome differs ("name: got X; want Y"), "" when all match;
// compared against "" so a failure lists every wrong row at once.
std::string mismatches(TUL_Metadata* md, std::initializer_list<Outcome> rows);

// The texts of the decode error 17 and the parse error 11.
std::string decode_error_message(const std::string& detail, const std::string& type);
std::string parse_error_message(const std::string& detail, const std::string& token, int line = 1);

// `text` written `times` times in a row, for deeply nested inputs.
std::string repeated(const std::string& text, int times);

}  // namespace tul::test

#endif
