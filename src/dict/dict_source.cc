// The source generator: a C header holding the value-notation text of every
// definition as one string literal each, for TUL_load_Metadata_string. The
// printed lines of a definition become adjacent literals, so the compiler
// joins them into one string without the line feeds.
#include <cstdio>
#include <cstring>
#include <string>

#include "dict.h"
#include "mem.h"

namespace tul::dict {
namespace {

constexpr const char* kLeadingComment =
    "/*\n"
    " * Copyright (c) the makers of the TUL library. All rights reserved.\n"
    " * This file may be used only together with the TUL library and under the\n"
    " * terms of its licence; it may not be published on its own.\n"
    " */\n"
    "\n"
    "/* generated with the ASN.1 programming interface of the TUL library */\n"
    "\n";

// What the walk of the types carries.
struct TypeWalk {
  char** ignore_list;
  FILE* out;
};

// One entry: the printed definition in double quotes, each line feed closing
// one literal and opening the next, double quotes inside turned into single
// ones.
void make_string(TUL_Object* obj, void* data) {
  auto* out = static_cast<FILE*>(data);
  mem::CPtr<char> printed(TUL_print2str(obj));
  std::fputc('"', out);
  for (const char* c = printed ? printed.get() : ""; *c; ++c) {
    if (*c == '"')
      std::fputc('\'', out);
    else if (*c == '\n')
      std::fputs("\"\n\"", out);
    else
      std::fputc(*c, out);
  }
  std::fputs("\",\n\n", out);
}

// The module prefix of a type name (up to its last ".", within the first
// 511 characters) matched exactly against the ignore list.
bool ignored(TUL_Object* obj, char** ignore_list) {
  if (!ignore_list) return false;
  char name[512];
  const char* text = TUL_read_str(TUL_assoc(obj, "name"));
  std::snprintf(name, sizeof name, "%s", text ? text : "");
  char* dot = std::strrchr(name, '.');
  if (!dot) return false;
  *dot = '\0';
  for (char** prefix = ignore_list; *prefix; ++prefix)
    if (std::strcmp(*prefix, name) == 0) return true;
  return false;
}

void make_string_with_ignore_list(TUL_Object* obj, void* data) {
  auto* walk = static_cast<TypeWalk*>(data);
  if (!ignored(obj, walk->ignore_list)) make_string(obj, walk->out);
}

}  // namespace
}  // namespace tul::dict

extern "C" TUL_API int TUL_generate_Metadata_string(TUL_Metadata* md, const char* name, char** ignore_list) {
  using namespace tul::dict;
  if (!md || !name) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "generate_Metadata_string");
    return TUL_ERR_ARGUMENT;
  }
  std::string path;
  try {
    path = std::string(name) + ".h";
  } catch (...) {
    TUL_trace_error(TUL_ERR_MEMORY);
    return TUL_ERR_MEMORY;
  }
  FILE* out = std::fopen(path.c_str(), "w+b");
  if (!out) {
    TUL_trace_error(TUL_ERR_OPEN, path.c_str());
    return TUL_ERR_OPEN;
  }
  std::fputs(kLeadingComment, out);
  std::fprintf(out, "static const char* %s[] = {\n", name);
  TypeWalk walk{ignore_list, out};
  for_each_value(md, &TUL_Metadata::asn1_types, make_string_with_ignore_list, &walk);
  for (int entry_type : kIndexOrder) for_each_value(md, template_kind(entry_type)->table, make_string, out);
  std::fputs("0 /* end of meta data */\n};\n", out);
  std::fclose(out);
  return 0;
}
