// Objects and dispatch, errors, options, the behaviour registry, member
// access and the typed accessors.
#include "dtd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dictionary_test.h"

namespace {

using tul::test::DictionaryTest;
using tul::test::StderrCapture;

// Enters "name ::= base" as a raw record.
void define(TUL_Metadata* md, const char* name, const char* base, int32_t tag_flag = 0, int32_t tag_val = 0) {
  TUL_Asn1TypeEntry e{};
  e.name = const_cast<char*>(name);
  e.type = const_cast<char*>(base);
  e.tag_flag = tag_flag;
  e.tag_val = tag_val;
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&e), nullptr);
}

using ObjectTest = DictionaryTest;

TEST_F(ObjectTest, NewIntegerIsOwnedByTheCaller) {
  TUL_Object* obj = TUL_new("INTEGER", md, 5);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->error, 0);
  EXPECT_EQ(obj->ref_cnt, 0);
  EXPECT_EQ(TUL_object_basic_type(obj), TUL_INTEGER_TYPE);
  EXPECT_EQ(TUL_read_int(obj), 5);
  EXPECT_STREQ(TUL_object_type(obj), "INTEGER");
  EXPECT_EQ(TUL_get_Metadata(obj), md);
  int data = 0;
  TUL_attach_data(obj, &data);
  EXPECT_EQ(TUL_get_attached(obj), &data);
  TUL_free(obj);
}

TEST_F(ObjectTest, UnknownTypeGivesErrorFour) {
  StderrCapture err;
  TUL_Object* obj = TUL_new("Foo", md, 1);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->error, 4);
  EXPECT_EQ(text_of(obj), "#04 no ASN.1 definition with name 'Foo' found");
  EXPECT_STREQ(TUL_object_type(obj), "TUL.ErrorType");
  EXPECT_EQ(err.take(), "#04 no ASN.1 definition with name 'Foo' found\n");
  TUL_free(obj);
}

TEST_F(ObjectTest, NullArgumentsGiveNeutralResults) {
  StderrCapture err;
  EXPECT_EQ(TUL_alloc(nullptr, md), nullptr);
  EXPECT_EQ(TUL_alloc("INTEGER", nullptr), nullptr);
  EXPECT_EQ(err.take(), "#21 invalid argument(s) in function 'TUL_alloc/alloc_US'\n"
                        "#21 invalid argument(s) in function 'TUL_alloc/alloc_US'\n");
  EXPECT_EQ(TUL_init(nullptr, 1), nullptr);
  EXPECT_EQ(TUL_copy(nullptr), nullptr);
  EXPECT_EQ(TUL_size(nullptr), 0);
  EXPECT_EQ(TUL_equal(nullptr, nullptr), 0);
  EXPECT_EQ(TUL_hash(nullptr), 0u);
  EXPECT_EQ(TUL_evaluate(nullptr, nullptr), nullptr);
  EXPECT_EQ(TUL_object_type(nullptr), nullptr);
  EXPECT_EQ(TUL_object_basic_type(nullptr), 0);
  EXPECT_EQ(TUL_get_Metadata(nullptr), nullptr);
  EXPECT_EQ(TUL_get_attached(nullptr), nullptr);
  TUL_free(nullptr);
  TUL_attach_data(nullptr, nullptr);
  // An init with nothing to read answers null; the new value must not leak.
  EXPECT_EQ(TUL_new("OBJECT IDENTIFIER", md, 2, nullptr), nullptr);
  TUL_Object* oid = TUL_alloc("OBJECT IDENTIFIER", md);
  EXPECT_EQ(TUL_init(oid, 2, nullptr), nullptr);  // still the caller's
  TUL_free(oid);
}

TEST_F(ObjectTest, DerivedTypesInheritOnFirstUse) {
  define(md, "B", "INTEGER");
  define(md, "A", "B");
  auto* a = tul::find_type(md, TUL_unique_string("A"));
  auto* b = tul::find_type(md, TUL_unique_string("B"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->behavior, nullptr);
  EXPECT_EQ(b->behavior, nullptr);
  TUL_Object* obj = TUL_new("A", md, 9);
  EXPECT_EQ(a->behavior, &md->integer_behavior);
  EXPECT_EQ(b->behavior, &md->integer_behavior);
  EXPECT_EQ(a->is_allocated, 0);
  EXPECT_EQ(TUL_read_int(obj), 9);
  TUL_free(obj);
}

TEST_F(ObjectTest, BrokenOrCyclicDerivationGivesNoTable) {
  define(md, "Ping", "Pong");
  define(md, "Pong", "Ping");
  define(md, "Orphan", "Missing");
  EXPECT_EQ(TUL_alloc("Ping", md), nullptr);  // and does not loop
  EXPECT_EQ(TULM_description(tul::find_type(md, TUL_unique_string("Ping"))), nullptr);
  StderrCapture err;
  EXPECT_EQ(TUL_alloc("Orphan", md), nullptr);
  EXPECT_EQ(err.take(), "#04 no ASN.1 definition with name 'Missing' found\n");
}

TEST_F(ObjectTest, IsAnyComparesIdentity) {
  EXPECT_TRUE(TULM_is_any(TUL_unique_string("ANY")));
  EXPECT_TRUE(TULM_is_any(TUL_unique_string("ANY DEFINED BY")));
  char copy[] = "ANY";
  EXPECT_FALSE(TULM_is_any(copy));
  EXPECT_FALSE(TULM_is_any(TUL_unique_string("INTEGER")));
  EXPECT_FALSE(TULM_is_any(nullptr));
}

TEST_F(ObjectTest, DescriptionFollowsTheDerivationChain) {
  define(md, "MyEnum", "TUL.Enum");
  auto* mine = tul::find_type(md, TUL_unique_string("MyEnum"));
  auto* base = tul::find_type(md, TUL_unique_string("TUL.Enum"));
  EXPECT_EQ(TULM_description(mine), base);
  EXPECT_EQ(mine->final_def, base);
  EXPECT_EQ(TULM_size(mine), 2);
  auto* seq = tul::find_type(md, TUL_unique_string("SEQUENCE"));
  EXPECT_EQ(TULM_description(seq), seq);
  EXPECT_EQ(TULM_description(tul::find_type(md, TUL_unique_string("INTEGER"))), nullptr);
}

TEST(Indentation, TabPerTwoLevelsThenFourBlanks) {
  struct Row {
    int level;
    const char* expected;
  } rows[] = {{0, ""}, {1, "    "}, {2, "\t"}, {3, "\t    "}, {5, "\t\t    "}, {-1, ""}, {-3, ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.level);
    std::string out;
    TULP_PrintContext ctx{&out, [](int c, void* s) { static_cast<std::string*>(s)->push_back(char(c)); },
                          [](const char* t, void* s) { static_cast<std::string*>(s)->append(t); }, row.level};
    TUL_print_indentation(&ctx);
    EXPECT_EQ(out, row.expected);
  }
}

/* ------------------------------------------------------------------------
 * Errors and options
 * ---------------------------------------------------------------------- */

using ErrorTest = DictionaryTest;

TEST_F(ErrorTest, MessagesFollowTheirFormats) {
  struct Row {
    const char* name;
    TUL_Object* (*make)(TUL_Metadata*);
    int code;
    const char* text;
  } rows[] = {
      {"function word after TUL_", [](TUL_Metadata* m) { return TUL_error(m, 21, "set_option"); }, 21,
       "#21 invalid argument(s) in function 'TUL_set_option'"},
      {"action first, type second", [](TUL_Metadata* m) { return TUL_error(m, 9, "refresh", "INTEGER"); }, 9,
       "#09 no behavior function 'refresh' in an object from type 'INTEGER'"},
      {"parse error with a line number",
       [](TUL_Metadata* m) { return TUL_error(m, 11, "TRUE or FALSE expected", 3, "x"); }, 11,
       "#11 parse error: TRUE or FALSE expected, line: 3, last token: x"},
      {"no arguments", [](TUL_Metadata* m) { return TUL_error(m, 8); }, 8,
       "#08 the specified index is out of range"},
      {"historic spelling kept", [](TUL_Metadata* m) { return TUL_error(m, 7, "REAL", "read_int"); }, 7,
       "#07 an object from type 'REAL' is incompatibel with function 'TUL_read_int'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StderrCapture err;
    TUL_Object* obj = row.make(md);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->error, row.code);
    EXPECT_EQ(text_of(obj), row.text);
    EXPECT_EQ(err.take(), std::string(row.text) + "\n");
    TUL_free(obj);
  }
}

TEST_F(ErrorTest, CodesWithoutARowAreSilentButStillObjects) {
  for (int code : {1, 3, 18, 19, 99}) {
    SCOPED_TRACE(code);
    StderrCapture err;
    TUL_trace_error(code);
    TUL_Object* obj = TUL_error(md, code);
    EXPECT_EQ(err.take(), "");
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->error, code);
    EXPECT_EQ(text_of(obj), "");
    TUL_free(obj);
  }
}

TEST_F(ErrorTest, LongArgumentsAreCutAndNoDictionaryGivesNull) {
  std::string name(2000, 'n');
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Object* obj = TUL_error(md, 4, name.c_str());
  EXPECT_EQ(text_of(obj).size(), 511u);
  TUL_free(obj);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);
  StderrCapture err;
  EXPECT_EQ(TUL_error(nullptr, 8), nullptr);
  EXPECT_EQ(err.take(), "#08 the specified index is out of range\n");
}

TEST_F(ErrorTest, AllocationErrorIsOneUnfreeableObject) {
  StderrCapture err;
  TUL_Object* first = TUL_error(md, 2);
  TUL_Object* second = TUL_error(md, 2);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, md->alloc_error);
  EXPECT_EQ(first->error, 2);
  EXPECT_EQ(text_of(first), "!!! memory allocation error !!!");
  TUL_free(first);
  EXPECT_EQ(TUL_copy(first), first);
  EXPECT_EQ(text_of(first), "!!! memory allocation error !!!");
  EXPECT_EQ(err.take(), "#02 memory allocation error\n#02 memory allocation error\n");
}

TEST_F(ErrorTest, TracingOffSilencesButKeepsErrorObjects) {
  EXPECT_EQ(TUL_get_option(TUL_OPTION_TRACE_ERROR), 1);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  StderrCapture err;
  TUL_Object* obj = TUL_new("Nope", md);
  EXPECT_EQ(err.take(), "");
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->error, 4);
  TUL_free(obj);
}

TEST(Options, TopicsAndVersions) {
  EXPECT_EQ(TUL_get_option(TUL_OPTION_OID_AS_LABEL), 0);
  EXPECT_EQ(TUL_get_option(TUL_OPTION_OID_ANNOTATED), 1);
  EXPECT_EQ(TUL_get_option(TUL_OPTION_BER_ANNOTATED), 0);
  TUL_set_option(TUL_OPTION_OID_AS_LABEL, 7);
  EXPECT_EQ(TUL_get_option(TUL_OPTION_OID_AS_LABEL), 7);
  TUL_set_option(TUL_OPTION_OID_AS_LABEL, 0);
  StderrCapture err;
  TUL_set_option(4, 1);
  EXPECT_EQ(TUL_get_option(-1), 0);
  EXPECT_EQ(err.take(), "#21 invalid argument(s) in function 'TUL_set_option'\n"
                        "#21 invalid argument(s) in function 'TUL_get_option'\n");
  EXPECT_STREQ(TUL_library_version(), "TUL library V.1.0 (98/02/28)");
  EXPECT_STREQ(TUL_format_version(), "DTD persistence file format V.1.7 (96/04/17)");
}

/* ------------------------------------------------------------------------
 * Registry and actions
 * ---------------------------------------------------------------------- */

using RegistryTest = DictionaryTest;

void* answer_one(TUL_Object*, void*) { return reinterpret_cast<void*>(1); }
void* answer_two(TUL_Object*, void*) { return reinterpret_cast<void*>(2); }
void quiet_print(TUL_Object*, TULP_PrintContext*) {}

TEST_F(RegistryTest, RegisteringOnADerivedTypeMakesAPrivateCopy) {
  define(md, "T", "INTEGER");
  void* integer_print = reinterpret_cast<void*>(md->integer_behavior.print);
  void* previous = TUL_register(md, "T", "print", reinterpret_cast<void*>(quiet_print));
  EXPECT_EQ(previous, integer_print);
  auto* t = tul::find_type(md, TUL_unique_string("T"));
  EXPECT_EQ(t->is_allocated, 1);
  EXPECT_NE(t->behavior, &md->integer_behavior);
  EXPECT_EQ(reinterpret_cast<void*>(t->behavior->print), reinterpret_cast<void*>(quiet_print));
  EXPECT_EQ(reinterpret_cast<void*>(md->integer_behavior.print), integer_print);
  EXPECT_EQ(TUL_retrieve_action(md, "T", "print"), reinterpret_cast<void*>(quiet_print));
}

TEST_F(RegistryTest, RegisteringOnARootChangesEveryTypeSharingItInThisDictionaryOnly) {
  define(md, "Shared", "INTEGER");
  TUL_Object* obj = TUL_new("Shared", md, 1);  // inherits now
  TUL_register(md, "INTEGER", "refresh", reinterpret_cast<void*>(answer_one));
  EXPECT_EQ(TUL_action("refresh", obj, nullptr), reinterpret_cast<void*>(1));
  TUL_Metadata* other = TUL_new_Metadata();
  EXPECT_EQ(TUL_retrieve_action(other, "INTEGER", "refresh"), nullptr);
  TUL_free_Metadata(other);
  TUL_free(obj);
}

TEST_F(RegistryTest, TenActionsFitAndTheEleventhIsRefused) {
  std::vector<std::string> names;
  for (int i = 0; i < 11; ++i) names.push_back("act" + std::to_string(i));
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(TUL_register(md, "INTEGER", names[i].c_str(), reinterpret_cast<void*>(answer_one)), nullptr);
  EXPECT_EQ(TUL_register(md, "INTEGER", names[10].c_str(), reinterpret_cast<void*>(answer_two)), nullptr);
  EXPECT_EQ(TUL_retrieve_action(md, "INTEGER", names[10].c_str()), nullptr);
  EXPECT_EQ(TUL_register(md, "INTEGER", names[4].c_str(), reinterpret_cast<void*>(answer_two)),
            reinterpret_cast<void*>(answer_one));
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(TUL_retrieve_action(md, "INTEGER", names[i].c_str()),
              reinterpret_cast<void*>(i == 4 ? answer_two : answer_one));
}

TEST_F(RegistryTest, ActionsRegisteredOnABaseLaterAreFoundThroughTheChain) {
  define(md, "T", "INTEGER");
  TUL_register(md, "T", "print", reinterpret_cast<void*>(quiet_print));  // T owns a table now
  TUL_register(md, "INTEGER", "late", reinterpret_cast<void*>(answer_two));
  EXPECT_EQ(TUL_retrieve_action(md, "T", "late"), nullptr);
  TUL_Object* obj = TUL_new("T", md, 3);
  EXPECT_EQ(TUL_action("late", obj, nullptr), reinterpret_cast<void*>(2));
  TUL_free(obj);
}

TEST_F(RegistryTest, SlotsAreCallableByName) {
  TUL_Object* a = TUL_new("INTEGER", md, 12);
  TUL_Object* copy = static_cast<TUL_Object*>(TUL_action("copy", a, nullptr));
  EXPECT_EQ(TUL_read_int(copy), 12);
  EXPECT_NE(TUL_action("equal", a, copy), nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(TUL_action("hash", a, nullptr)), TUL_hash(a));
  EXPECT_EQ(TUL_action("free", copy, nullptr), nullptr);
  TUL_free(a);
}

TEST_F(RegistryTest, UnknownNamesAndTypesAreReported) {
  TUL_Object* obj = TUL_new("INTEGER", md, 1);
  StderrCapture err;
  EXPECT_EQ(TUL_action("refresh", obj, nullptr), nullptr);
  EXPECT_EQ(TUL_register(md, "Nope", "print", nullptr), nullptr);
  EXPECT_EQ(err.take(), "#09 no behavior function 'refresh' in an object from type 'INTEGER'\n"
                        "#04 no ASN.1 definition with name 'Nope' found\n"
                        "#04 no ASN.1 definition with name 'Nope' found\n");
  EXPECT_EQ(TUL_register(md, "INTEGER", nullptr, nullptr), nullptr);
  EXPECT_EQ(TUL_action(nullptr, obj, nullptr), nullptr);
  TUL_free(obj);
}

TEST_F(RegistryTest, MethodTablesCanBeSetAndRead) {
  define(md, "Mine", "INTEGER");
  TUL_Behavior custom = md->integer_behavior;
  TUL_set_method_table(md, "Mine", &custom);
  EXPECT_EQ(TUL_get_method_table(md, "Mine"), &custom);
  StderrCapture err;
  EXPECT_EQ(TUL_get_method_table(md, "Nope"), nullptr);
  EXPECT_EQ(err.take(), "#04 no ASN.1 definition with name 'Nope' found\n");
}

/* ------------------------------------------------------------------------
 * Member access (TUL.Enum is a built-in SEQUENCE { label, value })
 * ---------------------------------------------------------------------- */

using MemberTest = DictionaryTest;

TEST_F(MemberTest, AssignHandsThePreviousValueBack) {
  TUL_Object* seq = TUL_alloc("TUL.Enum", md);
  ASSERT_NE(seq, nullptr);
  ASSERT_EQ(seq->error, 0);
  EXPECT_EQ(TUL_assoc(seq, "value"), nullptr);
  TUL_Object* first = TUL_new("INTEGER", md, 1);
  TUL_Object* second = TUL_new("INTEGER", md, 2);
  EXPECT_EQ(TUL_assign(seq, "value", first), nullptr);
  EXPECT_EQ(first->ref_cnt, 1);
  TUL_free(first);  // held by the SEQUENCE: nothing happens
  EXPECT_EQ(TUL_assoc(seq, "value"), first);
  TUL_Object* copy = TUL_copy(first);
  EXPECT_EQ(copy->ref_cnt, 0);
  TUL_free(copy);
  EXPECT_EQ(TUL_assign(seq, "value", second), first);
  EXPECT_EQ(first->ref_cnt, 0);
  TUL_free(first);
  EXPECT_EQ(TUL_assign(seq, "value", nullptr), second);
  EXPECT_EQ(TUL_assoc(seq, "value"), nullptr);
  TUL_free(second);
  TUL_free(seq);
}

TEST_F(MemberTest, WrongMembersAndTypesGiveErrorObjects) {
  TUL_Object* seq = TUL_alloc("TUL.Enum", md);
  TUL_Object* flag = TUL_new("BOOLEAN", md, 1);
  StderrCapture err;
  TUL_Object* unknown = TUL_assoc(seq, "nope");
  TUL_Object* wrong = TUL_assign(seq, "value", flag);
  EXPECT_EQ(unknown->error, 6);
  EXPECT_EQ(text_of(unknown), "#06 no field 'nope' in an object from type 'TUL.Enum'");
  EXPECT_EQ(wrong->error, 15);
  EXPECT_EQ(text_of(wrong), "#15 this member is supposed to be from type 'INTEGER'");
  EXPECT_EQ(flag->ref_cnt, 0);
  TUL_Object* integer = TUL_new("INTEGER", md, 1);
  EXPECT_EQ(TUL_assoc(integer, "value"), nullptr);
  EXPECT_EQ(TUL_members(integer), nullptr);
  err.take();
  for (TUL_Object* o : {unknown, wrong, flag, integer, seq}) TUL_free(o);
}

TEST_F(MemberTest, AnyMembersAcceptEveryType) {
  TUL_Asn1Type members[] = {{const_cast<char*>("payload"), 0, 0, const_cast<char*>("ANY"), 0, nullptr, 0, nullptr}};
  TUL_Asn1TypeEntry e{};
  e.name = const_cast<char*>("Carrier");
  e.type = const_cast<char*>("SEQUENCE");
  e.size = 1;
  e.members = members;
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&e), nullptr);
  TUL_Object* seq = TUL_alloc("Carrier", md);
  TUL_Object* flag = TUL_new("BOOLEAN", md, 1);
  EXPECT_EQ(TUL_assign(seq, "payload", flag), nullptr);
  EXPECT_EQ(TUL_assoc(seq, "payload"), flag);
  TUL_free(seq);  // frees the BOOLEAN too
}

TEST_F(MemberTest, MembersListsNamesInOrder) {
  TUL_Object* seq = TUL_alloc("TUL.Asn1", md);
  char** names = TUL_members(seq);
  ASSERT_NE(names, nullptr);
  std::vector<std::string> got;
  for (char** n = names; *n; ++n) got.emplace_back(*n);
  EXPECT_EQ(got, (std::vector<std::string>{"name", "type", "tagClass", "tagValue", "tagModifier", "fields", "enums"}));
  free(names);
  TUL_free(seq);
}

/* ------------------------------------------------------------------------
 * Accessors
 * ---------------------------------------------------------------------- */

using AccessorTest = DictionaryTest;

struct Sample {
  TUL_Object* integer;
  TUL_Object* colour;
  TUL_Object* bits;
};

TEST_F(AccessorTest, WrongBasicTypesAreRefusedWithCodeSeven) {
  define(md, "Colour", "ENUMERATED");
  Sample s{TUL_new("INTEGER", md, 4), TUL_new("Colour", md, 2), TUL_new("BIT STRING", md, 3, "101")};
  struct Row {
    const char* name;
    bool (*refused)(const Sample&);
    const char* line;
  } rows[] = {
      {"read_str on INTEGER", [](const Sample& v) { return TUL_read_str(v.integer) == nullptr; },
       "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_str'\n"},
      {"read_int on ENUMERATED", [](const Sample& v) { return TUL_read_int(v.colour) == 0; },
       "#07 an object from type 'Colour' is incompatibel with function 'TUL_read_int'\n"},
      {"read_enum on INTEGER", [](const Sample& v) { return TUL_read_enum(v.integer) == 0; },
       "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_enum'\n"},
      {"consume_str on BIT STRING", [](const Sample& v) { return TUL_consume_str(v.bits) == nullptr; },
       "#07 an object from type 'BIT STRING' is incompatibel with function 'TUL_consume_str'\n"},
      {"read_real on INTEGER", [](const Sample& v) { return TUL_read_real(v.integer) == 0.0; },
       "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_real'\n"},
      {"read_oid on INTEGER", [](const Sample& v) { return TUL_read_oid(v.integer) == nullptr; },
       "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_oid'\n"},
      {"read_bool on INTEGER", [](const Sample& v) { return TUL_read_bool(v.integer) == 0; },
       "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_bool'\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StderrCapture err;
    EXPECT_TRUE(row.refused(s));
    EXPECT_EQ(err.take(), row.line);
  }
  EXPECT_EQ(TUL_read_enum(s.colour), 2);
  EXPECT_NE(TUL_read_str(s.bits), nullptr);  // BIT STRING is readable as text
  for (TUL_Object* o : {s.integer, s.colour, s.bits}) TUL_free(o);
}

TEST_F(AccessorTest, ConsumeHandsTheBytesOverOnce) {
  TUL_Object* str = TUL_new("OCTET STRING", md, 3, "abc");
  char* bytes = TUL_consume_str(str);
  ASSERT_NE(bytes, nullptr);
  EXPECT_STREQ(bytes, "abc");
  free(bytes);
  StderrCapture err;
  EXPECT_EQ(TUL_consume_str(str), nullptr);
  EXPECT_EQ(TUL_read_real(nullptr), 0.0);
  EXPECT_EQ(err.take(), "");
  TUL_free(str);
}

}  // namespace
