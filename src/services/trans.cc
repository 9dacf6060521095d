// Translation of received event reports (CMIP event reports and SNMPv1
// traps) into one attribute-list form. Members are moved out of the decoded
// report into the result, never copied, so a translation costs little beyond
// the decode; the one exception is the whole-information attribute, which
// must survive the spreading of its fields.
#include <cstring>
#include <iterator>

#include "dict.h"
#include "dtd.h"
#include "service_names.h"

namespace tul::trans {
namespace {

using services::discard;
using services::has_bits;

enum Name {
  kEventReportArgument,
  kAttributeList,
  kAttribute,
  kAttributeId,
  kZrEventLogRecord,
  kZrCMISLogRecord,
  kZREventData,
  kObjectIdentifier,
  kTrapPDU,
  kEnterprise,
  kAgentAddr,
  kGenericTrap,
  kSpecificTrap,
  kTimeStamp,
  kVariableBindings,
  kBindingName,
  kBindingValue,
  kNameCount
};

constexpr const char* kNameTexts[] = {
    "EventReportArgument", "AttributeList", "Attribute", "AttributeId", "zrEventLogRecord",
    "zrCMISLogRecord", "ZREventData", "OBJECT IDENTIFIER", "Trap-PDU", "enterprise",
    "agent-addr", "generic-trap", "specific-trap", "time-stamp", "variable-bindings",
    "name", "value"};
static_assert(std::size(kNameTexts) == kNameCount);

services::InternedNames<kNameCount> interned(kNameTexts);

// The fixed attribute identifiers: CMIP fields under the systems-management
// attribute arc, SNMP fields and our own additions under the private
// enterprise arc.
struct FixedId {
  const int32_t* arcs;
  int count;
};

template <size_t N>
constexpr FixedId fixed(const int32_t (&arcs)[N]) {
  return {arcs, static_cast<int>(N)};
}

constexpr int32_t oid_managedObjectClass[] = {2, 9, 3, 2, 7, 60};
constexpr int32_t oid_managedObjectInstance[] = {2, 9, 3, 2, 7, 61};
constexpr int32_t oid_eventTime[] = {2, 9, 3, 2, 7, 13};
constexpr int32_t oid_eventType[] = {2, 9, 3, 2, 7, 14};
constexpr int32_t oid_attributeList[] = {2, 9, 3, 2, 7, 9};
constexpr int32_t oid_zrEventInfo[] = {1, 3, 6, 1, 4, 1, 48213, 2, 2, 6, 7};
constexpr int32_t oid_zrEventData[] = {1, 3, 6, 1, 4, 1, 48213, 2, 2, 6, 13};
constexpr int32_t oid_zrEnterprise[] = {1, 3, 6, 1, 4, 1, 48213, 2, 2, 6, 3};
constexpr int32_t oid_zrAgentAddr[] = {1, 3, 6, 1, 4, 1, 48213, 2, 2, 6, 4};
constexpr int32_t oid_zrGenericTrap[] = {1, 3, 6, 1, 4, 1, 48213, 2, 2, 3, 1};
constexpr int32_t oid_zrSpecificTrap[] = {1, 3, 6, 1, 4, 1, 48213, 2, 2, 6, 0};
constexpr int32_t oid_zrTimeStamp[] = {1, 3, 6, 1, 4, 1, 48213, 2, 2, 6, 5};

// Positions of the event report's members; reached by position because
// applications name them differently.
enum EventMember { kClass, kInstance, kTime, kType, kInfo, kEventMembers };

// The trap fields that become attributes, in attribute order.
struct TrapField {
  Name member;
  FixedId id;
};
constexpr TrapField kTrapFields[] = {
    {kEnterprise, fixed(oid_zrEnterprise)},     {kAgentAddr, fixed(oid_zrAgentAddr)},
    {kGenericTrap, fixed(oid_zrGenericTrap)},   {kSpecificTrap, fixed(oid_zrSpecificTrap)},
    {kTimeStamp, fixed(oid_zrTimeStamp)},
};

struct Translation {
  TUL_Metadata* md;
  char* const* n;
  // Entries of the types made once per attribute, looked up once per
  // translation; null when the dictionary lacks them.
  TUL_Entry* attribute;
  TUL_Entry* attribute_id;
};

TUL_Entry* type_entry(TUL_Metadata* md, char* name) {
  auto* e = find_type(md, name);
  if (e && !e->behavior) TULM_inherit(e);
  return e && e->behavior && e->behavior->alloc ? reinterpret_cast<TUL_Entry*>(e) : nullptr;
}

Translation translation(TUL_Metadata* md, char* const* n) {
  return {md, n, type_entry(md, n[kAttribute]), type_entry(md, n[kAttributeId])};
}

bool is_value(TUL_Object* obj) { return obj && !obj->error; }

// Frees what a lookup answered in place of a lent value: an error object.
void forget_error(TUL_Object* obj) {
  if (obj && obj->error) discard(obj);
}


// The OBJECT IDENTIFIER an identifier holds: the value itself, or the
// chosen alternative where identifiers are declared as a CHOICE of a global
// and a local form (as CMIP modules declare them); null otherwise.
TUL_Object* oid_within(TUL_Object* obj) {
  obj = services::unwrap(obj);
  return services::has_bits(obj, TUL_OID_TYPE) ? obj : nullptr;
}

// A new empty value of the type of `e`, or an error object or null.
TUL_Object* make(TUL_Entry* e) {
  if (!e) return nullptr;
  TUL_Object* obj = e->behavior->alloc(e);
  if (obj && obj != e->dtd->alloc_error) obj->ref_cnt = 0;
  return obj;
}

// A new two-member SEQUENCE of the type of `e` holding `first` and `second`
// (either may be null). Takes both in every case: what cannot enter is
// freed.
TUL_Object* new_pair(TUL_Entry* e, TUL_Object* first, TUL_Object* second) {
  TUL_Object* pair = make(e);
  if (!is_value(pair)) {
    discard(pair);
    discard(first);
    discard(second);
    return nullptr;
  }
  TUL_Object* result = TUL_init(pair, first, second);
  if (result == pair) return pair;
  discard(result);
  return nullptr;
}

// Appends an Attribute of `id` and `value` to `list`, taking both; false
// when nothing was appended (both are freed then). Without an identifier or
// a value nothing is appended: every attribute is complete.
bool append_attribute(const Translation& t, TUL_Object* list, TUL_Object* id, TUL_Object* value) {
  TUL_Object* oid = oid_within(id);
  if (!oid || TUL_size(oid) == 0 || !is_value(value)) {
    discard(id);
    discard(value);
    return false;
  }
  TUL_Object* attribute = new_pair(t.attribute, id, value);
  if (!attribute) return false;
  TUL_Object* appended = TUL_append(list, attribute);
  if (appended == list) return true;
  discard(appended);
  TUL_free(attribute);
  return false;
}

// The arguments an AttributeId is initialised with: its own for an
// OBJECT IDENTIFIER type; for a CHOICE, its first alternative of an
// OBJECT IDENTIFIER type and a value of it. Null when a CHOICE has no such
// alternative; an error object when that value cannot be made.
TUL_Object* global_form(const Translation& t, TUL_Object* id, int count, const void* arcs, char** name) {
  TUL_Asn1TypeEntry* d = TULM_description(tul_type_entry(id));
  for (int32_t i = 0; d && i < d->size; ++i) {
    TUL_Asn1Type& m = d->members[i];
    if (!(TUL_asn1_basic_type_US(t.md, m.type) & TUL_OID_TYPE)) continue;
    *name = m.name;
    return TUL_new_US(m.type, t.md, count, arcs);
  }
  return nullptr;
}

// A new AttributeId from an arc count and arcs, or -1 and the dotted text.
TUL_Object* new_id(const Translation& t, int count, const void* arcs) {
  TUL_Object* id = make(t.attribute_id);
  if (!is_value(id)) return id;
  TUL_Object* result;
  if (has_bits(id, TUL_CHOICE_TYPE)) {
    char* name = nullptr;
    TUL_Object* oid = global_form(t, id, count, arcs, &name);
    if (!is_value(oid)) {
      TUL_free(id);
      return oid;
    }
    result = TUL_init(id, name, oid);
  } else {
    result = TUL_init(id, count, arcs);
  }
  if (result == id) return id;
  if (!result) TUL_free(id);
  return result;
}

bool append_fixed(const Translation& t, TUL_Object* list, FixedId id, TUL_Object* value) {
  return append_attribute(t, list, new_id(t, id.count, id.arcs), value);
}

// Takes the member at `i` out of a SEQUENCE or SET, leaving the placeholder;
// null when the slot was empty.
TUL_Object* move_out(TUL_Object* seq, int i) {
  TUL_Object*& slot = reinterpret_cast<TUL_Structure*>(seq)->member[i];
  TUL_Object* tmp = tul_dtd(seq)->tmp_object;
  TUL_Object* value = slot;
  if (value == tmp) return nullptr;
  slot = tmp;
  --value->ref_cnt;
  return value;
}

// Takes a named member out; null when absent or not a member at all.
TUL_Object* move_field(TUL_Object* seq, char* name) {
  if (!has_bits(seq, TUL_SEQUENCE_TYPE | TUL_SET_TYPE)) return nullptr;
  TUL_Object* value = TUL_assign_US(seq, name, nullptr);
  if (is_value(value)) return value;
  discard(value);
  return nullptr;
}

TUL_Object* copy_identifier(const Translation& t, TUL_Object* oid) {
  return has_bits(oid, TUL_OID_TYPE) ? new_id(t, static_cast<int>(TUL_size(oid)), TUL_read_oid(oid)) : nullptr;
}

}  // namespace
}  // namespace tul::trans

extern "C" {

// Gives the probe the registration of the first attribute template whose
// label is the probe's.
static void _search_registration(void* entry, void* data) {
  auto* probe = static_cast<TUL_AttributeEntry*>(data);
  auto* attribute = static_cast<TUL_AttributeEntry*>(entry);
  if (!probe->name && attribute->label == probe->label) probe->name = attribute->name;
}

}  // extern "C"

namespace tul::trans {
namespace {

// The item's cached identifier, made from the registration of the attribute
// template it names on first need; null when no template has that label.
TUL_Object* item_identifier(const Translation& t, TUL_AndAttributeId* item) {
  if (item->oid) return item->oid;
  TUL_AttributeEntry probe{};
  probe.label = item->attribute;
  TULH_for_each(t.md->attributes, _search_registration, &probe);
  if (!probe.name) return nullptr;
  TUL_Object* id = new_id(t, -1, probe.name);
  if (!oid_within(id)) {
    discard(id);
    return nullptr;
  }
  item->oid = id;
  return id;
}

// Moves each field that the event type's NOTIFICATION template names out of
// the information into an attribute of its own.
void spread_information(const Translation& t, TUL_Object* type, TUL_Object* info, TUL_Object* list) {
  TUL_Object* oid = oid_within(type);
  if (!oid) return;
  TUL_Entry* entry = _TUL_templateByRegistration(t.md, oid);
  if (!entry || entry->entry_type != TUL_ENTRY_NOTIFICATION) return;
  auto* notification = reinterpret_cast<TUL_NotificationEntry*>(entry);
  for (int32_t i = 0; i < notification->size && notification->ids; ++i) {
    TUL_AndAttributeId* item = &notification->ids[i];
    TUL_Object* field = move_field(info, item->field_name);
    if (!field) continue;
    TUL_Object* id = item_identifier(t, item);
    append_attribute(t, list, id ? TUL_copy(id) : nullptr, field);
  }
}

// The event data attribute and the nested list that receives the spread
// fields; answers the nested list (null when it could not be made).
TUL_Object* append_event_data(const Translation& t, TUL_Object* list, TUL_Object* type, TUL_Object* info) {
  TUL_Object* event_oid = oid_within(type);
  TUL_Object* oid =
      event_oid ? TUL_new_US(t.n[kObjectIdentifier], t.md, static_cast<int>(TUL_size(event_oid)), TUL_read_oid(event_oid))
                : nullptr;
  if (oid && oid->error) {
    discard(oid);
    oid = nullptr;
  }
  TUL_Object* data = new_pair(type_entry(t.md, t.n[kZREventData]), oid, info ? TUL_copy(info) : nullptr);
  if (data) append_fixed(t, list, fixed(oid_zrEventData), data);
  TUL_Object* nested = TUL_alloc_US(t.n[kAttributeList], t.md);
  if (!is_value(nested)) {
    discard(nested);
    return nullptr;
  }
  // The attribute holds the list itself, so what is appended later shows
  // inside it.
  return append_fixed(t, list, fixed(oid_attributeList), nested) ? nested : nullptr;
}

TUL_Object* decode(const Translation& t, Name type, TUL_Object* ber) {
  TUL_Object* report = TUL_decode_US(t.n[type], ber, t.md);
  if (is_value(report)) return report;
  discard(report);
  return nullptr;
}

// The decoded report and the empty result list, or false (nothing left
// allocated) when either cannot be had.
bool start(const Translation& t, Name type, TUL_Object* ber, int structure_bits, TUL_Object** report,
           TUL_Object** list) {
  *report = decode(t, type, ber);
  if (!*report) return false;
  *list = TUL_alloc_US(t.n[kAttributeList], t.md);
  if (has_bits(*report, structure_bits) && has_bits(*list, TUL_SEQUENCEOF_TYPE | TUL_SETOF_TYPE)) return true;
  discard(*list);
  TUL_free(*report);
  return false;
}

// The member at `i` without moving it; null when absent.
TUL_Object* member_at(TUL_Object* seq, int i) {
  TUL_Object* value = reinterpret_cast<TUL_Structure*>(seq)->member[i];
  return value == tul_dtd(seq)->tmp_object ? nullptr : value;
}

TUL_Object* translate_event(const Translation& t, char* variant, TUL_Object* ber) {
  TUL_Object* event = nullptr;
  TUL_Object* list = nullptr;
  if (!start(t, kEventReportArgument, ber, TUL_SEQUENCE_TYPE | TUL_SET_TYPE, &event, &list)) return nullptr;
  ObjectGuard event_guard(event);
  if (TUL_size(event) < kEventMembers) {
    TUL_free(list);
    return nullptr;
  }
  append_fixed(t, list, fixed(oid_managedObjectClass), move_out(event, kClass));
  append_fixed(t, list, fixed(oid_managedObjectInstance), move_out(event, kInstance));
  if (TUL_Object* time = move_out(event, kTime)) append_fixed(t, list, fixed(oid_eventTime), time);
  TUL_Object* type = move_out(event, kType);
  // The attribute keeps the event type alive for the lookups below.
  if (!append_fixed(t, list, fixed(oid_eventType), type)) type = nullptr;
  TUL_Object* info = member_at(event, kInfo);
  TUL_Object* target = list;
  if (variant == t.n[kZrEventLogRecord] && info) {
    append_fixed(t, list, fixed(oid_zrEventInfo), TUL_copy(info));
  } else if (variant == t.n[kZrCMISLogRecord]) {
    target = append_event_data(t, list, type, info);
  }
  if (info && target) spread_information(t, type, info, target);
  return list;
}

TUL_Object* translate_trap(const Translation& t, TUL_Object* ber) {
  TUL_Object* trap = nullptr;
  TUL_Object* list = nullptr;
  if (!start(t, kTrapPDU, ber, TUL_SEQUENCE_TYPE | TUL_SET_TYPE, &trap, &list)) return nullptr;
  ObjectGuard trap_guard(trap);
  for (const TrapField& field : kTrapFields) append_fixed(t, list, field.id, move_field(trap, t.n[field.member]));
  TUL_Object* bindings = TUL_assoc_US(trap, t.n[kVariableBindings]);
  if (!has_bits(bindings, TUL_SEQUENCEOF_TYPE | TUL_SETOF_TYPE)) {
    forget_error(bindings);
    return list;
  }
  for (long i = 0, n = TUL_size(bindings); i < n; ++i) {
    TUL_Object* binding = TUL_at(bindings, i);
    if (!has_bits(binding, TUL_SEQUENCE_TYPE | TUL_SET_TYPE)) continue;
    TUL_Object* name = TUL_assoc_US(binding, t.n[kBindingName]);
    if (!has_bits(name, TUL_OID_TYPE)) {
      forget_error(name);
      continue;
    }
    append_attribute(t, list, copy_identifier(t, name), move_field(binding, t.n[kBindingValue]));
  }
  return list;
}

}  // namespace
}  // namespace tul::trans

extern "C" {

TUL_API TUL_Object* TUL_translate_event(char* type, TUL_Object* ber, TUL_Metadata* md) {
  char* const* n = tul::trans::interned.get();
  if (!ber || !md || !n) return nullptr;
  return tul::trans::translate_event(tul::trans::translation(md, n), type, ber);
}

TUL_API TUL_Object* TUL_translate_trap(TUL_Object* ber, TUL_Metadata* md) {
  char* const* n = tul::trans::interned.get();
  if (!ber || !md || !n) return nullptr;
  return tul::trans::translate_trap(tul::trans::translation(md, n), ber);
}

TUL_API TUL_Object* TUL_translate(char* type, TUL_Object* ber, TUL_Metadata* md) {
  using namespace tul::trans;
  char* const* n = interned.get();
  if (!type || !ber || !n) return nullptr;
  if (std::strcmp(type, kNameTexts[kEventReportArgument]) == 0) return TUL_translate_event(type, ber, md);
  if (std::strcmp(type, kNameTexts[kZrEventLogRecord]) == 0) return TUL_translate_event(n[kZrEventLogRecord], ber, md);
  if (std::strcmp(type, kNameTexts[kZrCMISLogRecord]) == 0) return TUL_translate_event(n[kZrCMISLogRecord], ber, md);
  if (std::strcmp(type, kNameTexts[kTrapPDU]) == 0) return TUL_translate_trap(ber, md);
  return nullptr;
}

}  // extern "C"
