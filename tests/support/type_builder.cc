#include "support/type_builder.h"

#include <cstdlib>
#include <vector>

namespace tul::test {

void define_type(TUL_Metadata* md, const char* name, const char* base,
                 std::initializer_list<MemberSpec> members, int32_t tag_flag, int32_t tag_val) {
  std::vector<TUL_Asn1Type> records;
  for (const MemberSpec& m : members) {
    TUL_Asn1Type t{};
    t.name = const_cast<char*>(m.name);
    t.tag_flag = m.tag_flag;
    t.tag_val = m.tag_val;
    t.type = const_cast<char*>(m.type);
    t.opt_def = m.opt_def;
    t.anydefbyId = const_cast<char*>(m.anydefbyId);
    records.push_back(t);
  }
  TUL_Asn1TypeEntry e{};
  e.name = const_cast<char*>(name);
  e.entry_type = TUL_ENTRY_ASN1;
  e.tag_flag = tag_flag;
  e.tag_val = tag_val;
  e.type = const_cast<char*>(base);
  e.size = static_cast<int32_t>(records.size());
  e.members = records.empty() ? nullptr : records.data();
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&e), nullptr);
}

void define_attribute(TUL_Metadata* md, const char* registration, const char* label, const char* syntax) {
  TUL_AttributeEntry a{};
  a.entry_type = TUL_ENTRY_ATTRIBUTE;
  a.name = const_cast<char*>(registration);
  a.label = const_cast<char*>(label);
  a.syntax = const_cast<char*>(syntax);
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&a), nullptr);
}

TUL_Object* ber(TUL_Metadata* md, const std::string& hex) {
  std::string octets;
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    octets += static_cast<char>(std::strtol(digits.substr(i, 2).c_str(), nullptr, 16));
  return TUL_new("BER-String", md, static_cast<int>(octets.size()), octets.data());
}

std::string hex_of(TUL_Object* ber_string) {
  if (!ber_string) return "";
  static const char kDigits[] = "0123456789ABCDEF";
  const auto* octets = reinterpret_cast<const unsigned char*>(TUL_read_str(ber_string));
  std::string out;
  for (long i = 0, n = TUL_size(ber_string); i < n; ++i) {
    if (i) out += ' ';
    out += kDigits[octets[i] >> 4];
    out += kDigits[octets[i] & 15];
  }
  return out;
}

TUL_Object* decode_hex(TUL_Metadata* md, const char* type, const std::string& hex) {
  TUL_Object* octets = ber(md, hex);
  TUL_Object* value = TUL_decode(type, octets, md);
  TUL_free(octets);
  return value;
}

std::string encode_hex(TUL_Object* obj) {
  TUL_Object* encoded = TUL_encode(obj);
  if (!encoded) return "<null>";
  std::string out;
  if (encoded->error) {
    const char* text = TUL_read_str(encoded);
    out = std::string("<error: ") + (text ? text : "") + ">";
  } else {
    out = hex_of(encoded);
  }
  TUL_free(encoded);
  return out;
}

namespace {

std::string error_text(TUL_Object* result) {
  std::string out = !result ? "<null>" : !result->error ? "<no error>" : TUL_read_str(result);
  TUL_free(result);
  return out;
}

}  // namespace

std::string decode_error_text(TUL_Metadata* md, const char* type, const std::string& hex) {
  return error_text(decode_hex(md, type, hex));
}

std::string printed(TUL_Object* obj) {
  char* text = TUL_print2str(obj);
  std::string out = text ? text : "";
  std::free(text);
  return out;
}

std::string one_line(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') {
      out += text[i];
      continue;
    }
    while (i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '\t' || text[i + 1] == '\n')) ++i;
    out += ' ';
  }
  return out;
}

std::string decode_or_parse(TUL_Metadata* md, const char* type, const std::string& input) {
  TUL_Object* value = type ? decode_hex(md, type, input) : TUL_parse_str(md, input.c_str());
  if (!value || value->error) return error_text(value);
  std::string out = one_line(printed(value));
  if (type) {
    TUL_Object* octets = ber(md, input);
    const std::string again = encode_hex(value);
    if (again != hex_of(octets)) out += " => " + again;
    TUL_free(octets);
  }
  TUL_free(value);
  return out;
}

std::string mismatches(TUL_Metadata* md, std::initializer_list<Outcome> rows) {
  std::string out;
  for (const Outcome& row : rows) {
    const std::string got = decode_or_parse(md, row.type, row.input);
    if (got != row.expected) out += std::string(row.name) + ": got " + got + "; want " + row.expected + "\n";
  }
  return out;
}

std::string decode_error_message(const std::string& detail, const std::string& type) {
  return "#17 decode error: '" + detail + "' in an object from type '" + type + "'";
}

std::string parse_error_message(const std::string& detail, const std::string& token, int line) {
  return "#11 parse error: " + detail + ", line: " + std::to_string(line) + ", last token: " + token;
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

}  // namespace tul::test
