// The behaviour registry, named actions, member access by name and the typed
// accessors. A registration on a derived type first gives it a private copy
// of the table it shares, so the change stays with that type.
#include <cstdint>
#include <cstring>

#include "dtd.h"
#include "mem.h"

namespace tul {
namespace {

constexpr int kSlotCount = 12;
constexpr int kUsedActions = TUL_MAX_ACTIONS - 1;

// Slot offsets in slot-name order (alloc ... hash).
constexpr size_t kSlotOffsets[kSlotCount] = {
    offsetof(TUL_Behavior, alloc),  offsetof(TUL_Behavior, init),     offsetof(TUL_Behavior, free),
    offsetof(TUL_Behavior, decode), offsetof(TUL_Behavior, encode),   offsetof(TUL_Behavior, parse),
    offsetof(TUL_Behavior, print),  offsetof(TUL_Behavior, copy),     offsetof(TUL_Behavior, size),
    offsetof(TUL_Behavior, equal),  offsetof(TUL_Behavior, evaluate), offsetof(TUL_Behavior, hash),
};

// Index of an interned slot name, or -1 for an extra action.
int slot_index(const char* name) {
  const Names& n = names();
  char* const slots[kSlotCount] = {n.alloc, n.init,  n.free, n.decode, n.encode,   n.parse,
                                   n.print, n.copy, n.size, n.equal,  n.evaluate, n.hash};
  for (int i = 0; i < kSlotCount; ++i)
    if (slots[i] == name) return i;
  return -1;
}

// Slots hold function pointers of different types; they move through void*
// by value, which is exact on every platform this library builds for.
void* read_slot(const TUL_Behavior* b, int i) {
  void* f;
  std::memcpy(&f, reinterpret_cast<const char*>(b) + kSlotOffsets[i], sizeof f);
  return f;
}

void write_slot(TUL_Behavior* b, int i, void* f) {
  std::memcpy(reinterpret_cast<char*>(b) + kSlotOffsets[i], &f, sizeof f);
}

TUL_ActionFunction find_action(const TUL_Behavior* b, const char* name) {
  if (!b) return nullptr;
  for (int i = 0; i < kUsedActions && b->action[i].name; ++i)
    if (b->action[i].name == name) return b->action[i].function;
  return nullptr;
}

// The entry a registration changes, made owner of a private table when it
// shares its base type's; null when nothing can change.
TUL_Asn1TypeEntry* registrable_entry(TUL_Metadata* dtd, const char* type, char* function_name) {
  TUL_Asn1TypeEntry* e = _TUL_asn1_info(dtd, type, 0);
  if (!e) {
    TUL_trace_error(TUL_ERR_NO_TYPE, type);
    return nullptr;
  }
  if (!function_name || !e->behavior) return nullptr;
  if (e->type && !e->is_allocated) {
    auto* copy = static_cast<TUL_Behavior*>(mem::alloc(sizeof(TUL_Behavior)));
    if (!copy) return nullptr;
    *copy = *e->behavior;
    e->behavior = copy;
    e->is_allocated = 1;
  }
  return e;
}

void* store_action(TUL_Behavior* b, char* name, void* function_ptr) {
  int i = 0;
  while (b->action[i].name && b->action[i].name != name)
    if (++i == kUsedActions) return nullptr;  // the list is full
  bool is_new = !b->action[i].name;
  auto previous = reinterpret_cast<void*>(b->action[i].function);
  b->action[i].name = name;
  b->action[i].function = reinterpret_cast<TUL_ActionFunction>(function_ptr);
  if (is_new) b->action[i + 1].name = nullptr;
  return previous;
}

void* call_slot(int slot, TUL_Object* obj, void* data) {
  TUL_Behavior* b = tul_behavior(obj);
  if (!read_slot(b, slot)) return nullptr;
  switch (slot) {
    case 0: return b->alloc(obj->type_ref);
    case 1: return b->init(obj, static_cast<va_list*>(data));
    case 2: b->free(obj); return nullptr;
    case 3: return reinterpret_cast<void*>(static_cast<intptr_t>(b->decode(obj, static_cast<TULE_DecodeContext*>(data))));
    case 4: return reinterpret_cast<void*>(static_cast<intptr_t>(b->encode(obj, static_cast<TULE_EncodeContext*>(data))));
    case 5: return b->parse(obj, static_cast<TULP_ParseContext*>(data));
    case 6: b->print(obj, static_cast<TULP_PrintContext*>(data)); return nullptr;
    case 7: return b->copy(obj);
    case 8: return reinterpret_cast<void*>(static_cast<intptr_t>(b->size(obj)));
    case 9: return reinterpret_cast<void*>(static_cast<intptr_t>(b->equal(obj, static_cast<TUL_Object*>(data))));
    case 10: return b->evaluate(obj, data);
    default: return reinterpret_cast<void*>(static_cast<uintptr_t>(b->hash(obj)));
  }
}

/* ------------------------------------------------------------------------
 * Member access
 * ---------------------------------------------------------------------- */

constexpr int kStructureMask = TUL_SEQUENCE_TYPE | TUL_SET_TYPE;

bool is_structure(TUL_Object* obj, const char* function_word) {
  return has_basic_type(obj, kStructureMask, function_word);
}

TUL_Object** member_slots(TUL_Object* seq) { return reinterpret_cast<TUL_Structure*>(seq)->member; }

}  // namespace
}  // namespace tul

extern "C" {

TUL_API void* TUL_register(TUL_Metadata* dtd, const char* type, const char* function_name,
                           void* function_ptr) {
  if (!dtd || !type) return nullptr;
  char* name = TUL_unique_string(function_name);
  TUL_Asn1TypeEntry* e = tul::registrable_entry(dtd, type, name);
  if (!e) return nullptr;
  int slot = tul::slot_index(name);
  if (slot < 0) return tul::store_action(e->behavior, name, function_ptr);
  void* previous = tul::read_slot(e->behavior, slot);
  tul::write_slot(e->behavior, slot, function_ptr);
  return previous;
}

TUL_API void* TUL_retrieve_action(TUL_Metadata* dtd, const char* type, const char* function_name) {
  if (!dtd || !type) return nullptr;
  char* name = TUL_unique_string(function_name);
  TUL_Asn1TypeEntry* e = _TUL_asn1_info(dtd, type, 0);
  if (!e) {
    TUL_trace_error(TUL_ERR_NO_TYPE, type);
    return nullptr;
  }
  if (!name || !e->behavior) return nullptr;
  int slot = tul::slot_index(name);
  if (slot >= 0) return tul::read_slot(e->behavior, slot);
  return reinterpret_cast<void*>(tul::find_action(e->behavior, name));
}

TUL_API void* TUL_action_US(char* function, TUL_Object* obj, void* data) {
  if (!function || !obj) return nullptr;
  int slot = tul::slot_index(function);
  if (slot >= 0) return tul::call_slot(slot, obj, data);
  if (TUL_ActionFunction f = tul::find_action(tul_behavior(obj), function)) return f(obj, data);
  // Actions registered on a base type after a derived type took its own
  // table are found by walking the derivation chain.
  TUL_Asn1TypeEntry* cur = tul_type_entry(obj);
  for (long limit = cur->dtd->asn1_types->count; cur->type && limit > 0; --limit) {
    cur = tul::find_type(cur->dtd, cur->type);
    if (!cur) break;
    if (TUL_ActionFunction f = tul::find_action(cur->behavior, function)) return f(obj, data);
  }
  TUL_trace_error(TUL_ERR_NO_BEHAVIOR, function, TUL_object_type(obj));
  return nullptr;
}

TUL_API void* TUL_action(const char* function, TUL_Object* obj, void* data) {
  if (!function || !obj) return nullptr;
  return TUL_action_US(TUL_unique_string(function), obj, data);
}

TUL_API char** TUL_members(TUL_Object* seq) {
  if (!seq || !tul::is_structure(seq, "members")) return nullptr;
  TUL_Asn1TypeEntry* d = _TUL_object_info(seq, 1);
  int size = d ? d->size : 0;
  auto** names = tul::mem::alloc_array<char*>(size + 1);
  if (!names) {
    TUL_trace_error(TUL_ERR_MEMORY);
    return nullptr;
  }
  for (int i = 0; i < size; ++i) names[i] = d->members[i].name;
  names[size] = nullptr;
  return names;
}

TUL_API TUL_Object* TUL_assoc_US(TUL_Object* seq, char* member) {
  if (!seq || !member || !tul::is_structure(seq, "assoc/assoc_US")) return nullptr;
  int i = tul::find_member(_TUL_object_info(seq, 1), member);
  if (i < 0) return TUL_error(tul_dtd(seq), TUL_ERR_NO_FIELD, member, TUL_object_type(seq));
  TUL_Object* value = tul::member_slots(seq)[i];
  return value == tul_dtd(seq)->tmp_object ? nullptr : value;
}

TUL_API TUL_Object* TUL_assoc(TUL_Object* obj, const char* member) {
  if (!obj || !member) return nullptr;
  return TUL_assoc_US(obj, TUL_unique_string(member));
}

TUL_API TUL_Object* TUL_assign_US(TUL_Object* seq, char* member, TUL_Object* obj) {
  if (!seq || !tul::is_structure(seq, "assign/assign_US")) return nullptr;
  TUL_Asn1TypeEntry* d = _TUL_object_info(seq, 1);
  int i = tul::find_member(d, member);
  if (i < 0) return TUL_error(tul_dtd(seq), TUL_ERR_NO_FIELD, member, TUL_object_type(seq));
  char* declared = d->members[i].type;
  if (obj && TUL_object_type(obj) != declared && !TULM_is_any(declared))
    return TUL_error(tul_dtd(seq), TUL_ERR_MEMBER_TYPE, declared);
  TUL_Object* tmp = tul_dtd(seq)->tmp_object;
  TUL_Object*& slot = tul::member_slots(seq)[i];
  TUL_Object* previous = slot;
  if (obj) {
    slot = obj;
    ++obj->ref_cnt;
  } else {
    slot = tmp;
  }
  if (previous == tmp) return nullptr;
  --previous->ref_cnt;
  return previous;
}

TUL_API TUL_Object* TUL_assign(TUL_Object* seq, const char* member, TUL_Object* obj) {
  if (!seq) return nullptr;
  return TUL_assign_US(seq, TUL_unique_string(member), obj);
}

TUL_API int TUL_read_bool(TUL_Object* obj) {
  return tul::has_basic_type(obj, TUL_BOOLEAN_TYPE, "read_bool") ? reinterpret_cast<TUL_Boolean*>(obj)->boolean : 0;
}

TUL_API long TUL_read_int(TUL_Object* obj) {
  return tul::has_basic_type(obj, TUL_INTEGER_TYPE, "read_int") ? tul::integer_value(obj) : 0;
}

TUL_API long TUL_read_enum(TUL_Object* obj) {
  return tul::has_basic_type(obj, TUL_ENUMERATED_TYPE, "read_enum") ? tul::integer_value(obj) : 0;
}

TUL_API int64_t TUL_read_int64(TUL_Object* obj) {
  return tul::has_basic_type(obj, TUL_INTEGER_TYPE | TUL_ENUMERATED_TYPE, "read_int64") ? tul::integer_value(obj) : 0;
}

TUL_API TUL_Object* TUL_new_int64(const char* type, TUL_Metadata* dtd, int64_t value) {
  TUL_Object* obj = TUL_alloc(type, dtd);
  if (!obj || obj->error) return obj;
  tul::ObjectGuard guard(obj);
  if (!(TUL_object_basic_type(obj) & (TUL_INTEGER_TYPE | TUL_ENUMERATED_TYPE)))
    return TUL_error(dtd, TUL_ERR_INCOMPATIBLE, type, "new_int64");
  if (!tul::wide_integers() && value != static_cast<int32_t>(value)) return TUL_error(dtd, TUL_ERR_ARGUMENT, "new_int64");
  tul::set_integer_value(obj, value);
  return guard.release();
}

TUL_API char* TUL_read_str(TUL_Object* obj) {
  return tul::has_basic_type(obj, TUL_BITSTRING_TYPE | TUL_OCTETSTRING_TYPE, "read_str")
             ? reinterpret_cast<TUL_Octet*>(obj)->octet
             : nullptr;
}

TUL_API char* TUL_consume_str(TUL_Object* obj) {
  if (!tul::has_basic_type(obj, TUL_OCTETSTRING_TYPE, "consume_str")) return nullptr;
  auto* octet = reinterpret_cast<TUL_Octet*>(obj);
  char* bytes = octet->octet;
  octet->octet = nullptr;
  octet->len = 0;
  return bytes;
}

TUL_API double TUL_read_real(TUL_Object* obj) {
  return tul::has_basic_type(obj, TUL_REAL_TYPE, "read_real") ? reinterpret_cast<TUL_Real*>(obj)->real : 0.0;
}

TUL_API int32_t* TUL_read_oid(TUL_Object* obj) {
  return tul::has_basic_type(obj, TUL_OID_TYPE, "read_oid") ? reinterpret_cast<TUL_Oid*>(obj)->oid : nullptr;
}

}  // extern "C"
