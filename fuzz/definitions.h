// Type definitions for the fuzz targets' dictionaries, entered as raw
// records so that each target can build the shapes it needs in a few lines.
#ifndef TUL_FUZZ_DEFINITIONS_H
#define TUL_FUZZ_DEFINITIONS_H

#include <cstdint>

#include "tul.h"

namespace tul::fuzz {

constexpr int32_t kImplicit = TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT;
constexpr int32_t kExplicit = TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT;

inline TUL_Asn1Type member(const char* name, const char* type, int32_t tag_flag = 0, int32_t tag_val = 0,
                           const char* anydefby = nullptr, int32_t opt_def = TUL_OPTIONAL) {
  return TUL_Asn1Type{const_cast<char*>(name), tag_flag, tag_val, const_cast<char*>(type), 0, nullptr,
                      opt_def, const_cast<char*>(anydefby)};
}

inline void define(TUL_Metadata* md, const char* name, const char* base, int32_t size = 0,
                   TUL_Asn1Type* members = nullptr, int32_t tag_flag = 0, int32_t tag_val = 0, int32_t enums = 0,
                   TUL_EnumList* enum_list = nullptr) {
  TUL_Asn1TypeEntry e{};
  e.name = const_cast<char*>(name);
  e.type = const_cast<char*>(base);
  e.size = size;
  e.members = members;
  e.tag_flag = tag_flag;
  e.tag_val = tag_val;
  e.enums = enums;
  e.enum_list = enum_list;
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&e), nullptr);
}

}  // namespace tul::fuzz

#endif
