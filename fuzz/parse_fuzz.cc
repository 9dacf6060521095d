// Feeds arbitrary text to the value-notation parser against one dictionary
// that holds, besides the built-in types and the meta-schema, a few
// recursive user types, so that nesting, ANY members, named numbers and
// CHOICE chains are reachable. Whatever parses is printed and parsed again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "definitions.h"
#include "tul.h"

namespace {

using tul::fuzz::define;

// Members here carry no tags, but some carry named numbers.
TUL_Asn1Type member(const char* name, const char* type, int32_t opt_def = TUL_OPTIONAL,
                    int32_t enums = 0, TUL_EnumList* enum_list = nullptr) {
  TUL_Asn1Type m = tul::fuzz::member(name, type, 0, 0, nullptr, opt_def);
  m.enums = enums;
  m.enum_list = enum_list;
  return m;
}

TUL_Metadata* make_dictionary() {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Metadata* md = TUL_new_Metadata();
  if (!md) std::abort();

  TUL_EnumList colours[] = {{const_cast<char*>("red"), 1}, {const_cast<char*>("green"), 2}};
  TUL_EnumList levels[] = {{const_cast<char*>("low"), 0}, {const_cast<char*>("high"), 9}};
  define(md, "Colour", "ENUMERATED", 0, nullptr, 0, 0, 2, colours);
  define(md, "Count", "INTEGER", 0, nullptr, 0, 0, 2, levels);

  TUL_Asn1Type tree[] = {
      member("label", "IA5String", TUL_MANDATORY),
      member("kids", "Trees"),
      member("any", "ANY"),
      member("pick", "Pick"),
      member("level", "INTEGER", TUL_OPTIONAL, 2, levels),
      member("colour", "Colour"),
      member("flags", "BIT STRING"),
      member("id", "OBJECT IDENTIFIER"),
      member("ratio", "REAL"),
      member("blob", "OCTET STRING"),
      member("none", "NULL"),
      member("ok", "BOOLEAN"),
  };
  define(md, "Tree", "SEQUENCE", sizeof tree / sizeof tree[0], tree);
  TUL_Asn1Type trees[] = {member(nullptr, "Tree", TUL_MANDATORY)};
  define(md, "Trees", "SEQUENCE OF", 1, trees);
  TUL_Asn1Type anys[] = {member(nullptr, "ANY", TUL_MANDATORY)};
  define(md, "Anys", "SET OF", 1, anys);
  TUL_Asn1Type pick[] = {
      member("n", "INTEGER", TUL_MANDATORY),
      member("t", "Tree", TUL_MANDATORY),
      member("p", "Pick", TUL_MANDATORY),
      member("a", "Anys", TUL_MANDATORY),
  };
  define(md, "Pick", "CHOICE", sizeof pick / sizeof pick[0], pick);
  TUL_Asn1Type set[] = {member("x", "Count"), member("y", "Pick")};
  define(md, "Pair", "SET", 2, set);
  return md;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TUL_Metadata* md = make_dictionary();
  // The parser reads a NUL-terminated text; a NUL inside ends it early.
  std::string text(reinterpret_cast<const char*>(data), size);
  TUL_Object* obj = TUL_parse_str(md, text.c_str());
  if (obj && !obj->error) {
    char* printed = TUL_print2str(obj);
    if (printed) {
      TUL_Object* again = TUL_parse_str(md, printed);
      TUL_free(again);
      std::free(printed);
    }
    std::free(TUL_print_value(obj, 3));
    TUL_Object* copy = TUL_copy(obj);
    TUL_free(copy);
  }
  TUL_free(obj);
  return 0;
}
