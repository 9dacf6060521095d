// Template lookup by label and by registration. Both indexes are built once,
// on first need; templates added afterwards are counted and enumerated but
// not indexed, so a lookup's answer never changes under an application.
#include <cstdint>

#include "ber.h"
#include "dict.h"
#include "dtd.h"
#include "hash.h"
#include "mem.h"

namespace tul::dict {
namespace {

struct IndexContext {
  TUL_Metadata* dtd;
};

void index_registration(void* entry, void* data) {
  auto* e = static_cast<TUL_Entry*>(entry);
  TUL_Metadata* dtd = static_cast<IndexContext*>(data)->dtd;
  if (!e->name) return;
  TUL_Object* oid = TUL_new("OBJECT IDENTIFIER", dtd, -1, e->name);
  // A text that is no object identifier yields an error or a value without
  // arcs; neither can be registered.
  if (!oid || oid->error || TUL_size(oid) < 2) {
    if (oid != dtd->alloc_error) TUL_free(oid);
    return;
  }
  oid->specific = e;
  if (TULH_assoc_entry(dtd->registrations, oid) || !TULH_add_entry(dtd->registrations, oid)) TUL_free(oid);
}

void index_label(void* entry, void* data) {
  TUL_Metadata* dtd = static_cast<IndexContext*>(data)->dtd;
  if (!TULH_assoc_entry(dtd->gdmo_templates, entry)) TULH_add_entry(dtd->gdmo_templates, entry);
}

// Registered identifiers carry their BER contents so that values equal to
// them can share the octets instead of encoding each time.
void pre_encode(void* value, void*) {
  auto* oid = static_cast<TUL_Oid*>(value);
  int len = 0;
  unsigned char* octets = nullptr;
  if (encodeOID(oid->len, reinterpret_cast<const uint32_t*>(oid->oid), &len, &octets) != 0) return;
  if (!oid->in_line) mem::free(oid->octets);
  oid->octets = octets;
  oid->len_octets = len;
  oid->in_line = 0;
}

}  // namespace
}  // namespace tul::dict

void TUL_finalize(TUL_Metadata* dtd) {
  using namespace tul::dict;
  if (!dtd || dtd->valid_registrations) return;
  IndexContext ctx{dtd};
  for (int kind : kIndexOrder)
    if (template_kind(kind)->has_registration) TULH_for_each(dtd->*template_kind(kind)->table, index_registration, &ctx);
  for (int kind : kIndexOrder) TULH_for_each(dtd->*template_kind(kind)->table, index_label, &ctx);
  TULH_for_each(dtd->registrations, pre_encode, nullptr);
  dtd->valid_registrations = 1;
}

TUL_Entry* _TUL_templateByRegistration(TUL_Metadata* dtd, TUL_Object* id) {
  if (!dtd || !id) return nullptr;
  TUL_finalize(dtd);
  auto* found = static_cast<TUL_Object*>(TULH_assoc_entry(dtd->registrations, id));
  return found ? static_cast<TUL_Entry*>(found->specific) : nullptr;
}

extern "C" TUL_API TUL_Entry* _TUL_templateByName(TUL_Metadata* dtd, const char* label) {
  if (!dtd || !label) return nullptr;
  TUL_AttributeEntry key{};
  key.label = TUL_unique_string(label);
  if (!key.label) return nullptr;
  TUL_finalize(dtd);
  return static_cast<TUL_Entry*>(TULH_assoc_entry(dtd->gdmo_templates, &key));
}
