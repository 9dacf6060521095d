// Internal interface of the dictionary: the descriptor of the nine template
// kinds, shared by insertion, release, lookup, persistence and reports.
#ifndef TUL_DICT_H
#define TUL_DICT_H

#include <cstddef>

#include "tul.h"

namespace tul::dict {

constexpr int kTemplateKinds = 9;
constexpr int kMaxStringFields = 2;

// One row per template entry_type (1..9).
struct TemplateKind {
  int entry_type;
  size_t record_size;
  TULH_HT* TUL_Metadata::*table;
  const char* value_type;  // meta-schema type describing such a template
  size_t obj_offset;
  size_t string_offsets[kMaxStringFields];  // interned syntax fields; 0 ends
  bool has_registration;
};

// The row for `entry_type`, or null when it is no template kind.
const TemplateKind* template_kind(int entry_type);

// Template tables in the order the registration and label indexes visit
// them (behaviours last: they have no registration).
extern const int kIndexOrder[kTemplateKinds];

// The describing value field of any entry record (type or template).
TUL_Object*& entry_obj(TUL_Entry* e);

}  // namespace tul::dict

// Builds the registration and label indexes once per dictionary.
void TUL_finalize(TUL_Metadata* dtd);
// The template whose registration equals the OBJECT IDENTIFIER value `id`;
// null when none (or for null arguments). Builds the indexes first.
TUL_Entry* _TUL_templateByRegistration(TUL_Metadata* dtd, TUL_Object* id);

#endif
