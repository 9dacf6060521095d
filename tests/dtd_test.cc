// Objects and dispatch, errors, options, the behaviour registry, member
// access and the typed accessors.
#include "dtd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using namespace tul::test;

class CoreTest : public DictionaryTest {
 protected:
  void define(const char* name, const char* base) { define_type(md, name, base); }
};

void* answer_one(TUL_Object*, void*) { return reinterpret_cast<void*>(1); }
void* answer_two(TUL_Object*, void*) { return reinterpret_cast<void*>(2); }
void quiet_print(TUL_Object*, TULP_PrintContext*) {}
void* fn(auto f) { return reinterpret_cast<void*>(f); }

TEST_F(CoreTest, NewValuesBelongToTheCallerAndUnknownTypesGiveErrorFour) {
  TUL_Object* obj = TUL_new("INTEGER", md, 5);
  EXPECT_EQ(obj->error, 0);
  EXPECT_EQ(obj->ref_cnt, 0);
  EXPECT_EQ(TUL_object_basic_type(obj), TUL_INTEGER_TYPE);
  EXPECT_EQ(TUL_read_int(obj), 5);
  EXPECT_EQ(TUL_get_Metadata(obj), md);
  TUL_attach_data(obj, md);
  EXPECT_EQ(TUL_get_attached(obj), md);
  TUL_free(obj);
  EXPECT_EQ(traced([&] { obj = TUL_new("Foo", md, 1); }), "#04 no ASN.1 definition with name 'Foo' found\n");
  EXPECT_EQ(obj->error, 4);
  EXPECT_EQ(text_of(obj), "#04 no ASN.1 definition with name 'Foo' found");
  EXPECT_STREQ(TUL_object_type(obj), "TUL.ErrorType");
  TUL_free(obj);
}

TEST_F(CoreTest, NullArgumentsGiveNeutralResults) {
  EXPECT_EQ(traced([&] { EXPECT_EQ(TUL_alloc(nullptr, md), nullptr); }),
            "#21 invalid argument(s) in function 'TUL_alloc/alloc_US'\n");
  EXPECT_TRUE(!TUL_init(nullptr, 1) && !TUL_copy(nullptr) && !TUL_size(nullptr) && !TUL_equal(nullptr, nullptr) &&
              !TUL_hash(nullptr) && !TUL_evaluate(nullptr, nullptr) && !TUL_object_type(nullptr) &&
              !TUL_object_basic_type(nullptr) && !TUL_get_Metadata(nullptr) && !TUL_get_attached(nullptr));
  TUL_free(nullptr);
  // An init with nothing to read answers null: TUL_new must not lose the
  // value it made, TUL_init leaves the caller's value alone.
  EXPECT_EQ(TUL_new("OBJECT IDENTIFIER", md, 2, nullptr), nullptr);
  TUL_Object* oid = TUL_alloc("OBJECT IDENTIFIER", md);
  EXPECT_EQ(TUL_init(oid, 2, nullptr), nullptr);
  TUL_free(oid);
}

TEST_F(CoreTest, DerivedTypesInheritOnFirstUse) {
  define("B", "INTEGER");
  define("A", "B");
  EXPECT_EQ(type("A")->behavior, nullptr);
  TUL_Object* obj = TUL_new("A", md, 9);
  EXPECT_EQ(type("A")->behavior, &md->integer_behavior);
  EXPECT_EQ(type("B")->behavior, &md->integer_behavior);
  EXPECT_EQ(type("A")->is_allocated, 0);
  EXPECT_EQ(TUL_read_int(obj), 9);
  TUL_free(obj);
}

TEST_F(CoreTest, BrokenOrCyclicDerivationGivesNoTable) {
  define("Ping", "Pong");
  define("Pong", "Ping");
  define("Orphan", "Missing");
  EXPECT_EQ(TUL_alloc("Ping", md), nullptr);  // and does not loop
  EXPECT_EQ(TULM_description(type("Ping")), nullptr);
  EXPECT_EQ(traced([&] { EXPECT_EQ(TUL_alloc("Orphan", md), nullptr); }),
            "#04 no ASN.1 definition with name 'Missing' found\n");
}

TEST_F(CoreTest, DescriptionFollowsTheDerivationChainAndAnyIsByIdentity) {
  define("MyEnum", "TUL.Enum");
  EXPECT_EQ(TULM_description(type("MyEnum")), type("TUL.Enum"));
  EXPECT_EQ(type("MyEnum")->final_def, type("TUL.Enum"));
  EXPECT_EQ(TULM_size(type("MyEnum")), 2);
  EXPECT_EQ(TULM_description(type("SEQUENCE")), type("SEQUENCE"));
  EXPECT_EQ(TULM_description(type("INTEGER")), nullptr);
  char copy[] = "ANY";
  EXPECT_TRUE(TULM_is_any(TUL_unique_string("ANY")) && TULM_is_any(TUL_unique_string("ANY DEFINED BY")));
  EXPECT_FALSE(TULM_is_any(copy) || TULM_is_any(TUL_unique_string("INTEGER")) || TULM_is_any(nullptr));
}

/* ------------------------------------------------------------------------
 * Errors and options
 * ---------------------------------------------------------------------- */

TEST_F(CoreTest, MessagesFollowTheirFormats) {
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
      {"historic spelling kept", [](TUL_Metadata* m) { return TUL_error(m, 7, "REAL", "read_int"); }, 7,
       "#07 an object from type 'REAL' is incompatibel with function 'TUL_read_int'"},
      {"codes without a message are silent", [](TUL_Metadata* m) { return TUL_error(m, 18); }, 18, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TUL_Object* obj = nullptr;
    std::string line = *row.text ? std::string(row.text) + "\n" : "";
    EXPECT_EQ(traced([&] { obj = row.make(md); }), line);
    EXPECT_EQ(obj->error, row.code);
    EXPECT_EQ(text_of(obj), row.text);
    TUL_free(obj);
  }
  EXPECT_EQ(traced([] { TUL_trace_error(3); }), "");
  EXPECT_EQ(traced([] { EXPECT_EQ(TUL_error(nullptr, 8), nullptr); }), "#08 the specified index is out of range\n");
}

TEST_F(CoreTest, TracingOffKeepsErrorObjectsAndLongTextsAreCut) {
  EXPECT_EQ(TUL_get_option(TUL_OPTION_TRACE_ERROR), 1);
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  std::string name(2000, 'n');
  TUL_Object* obj = nullptr;
  EXPECT_EQ(traced([&] { obj = TUL_new(name.c_str(), md); }), "");
  EXPECT_EQ(obj->error, 4);
  EXPECT_EQ(text_of(obj).size(), 511u);
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

TEST_F(CoreTest, RegisteringOnADerivedTypeMakesAPrivateCopy) {
  define("T", "INTEGER");
  void* integer_print = fn(md->integer_behavior.print);
  EXPECT_EQ(TUL_register(md, "T", "print", fn(quiet_print)), integer_print);
  EXPECT_EQ(type("T")->is_allocated, 1);
  EXPECT_NE(type("T")->behavior, &md->integer_behavior);
  EXPECT_EQ(fn(md->integer_behavior.print), integer_print);
  EXPECT_EQ(TUL_retrieve_action(md, "T", "print"), fn(quiet_print));
  // An action registered on the base afterwards is found through the chain,
  // though not in T's own table.
  TUL_register(md, "INTEGER", "late", fn(answer_two));
  EXPECT_EQ(TUL_retrieve_action(md, "T", "late"), nullptr);
  TUL_Object* obj = TUL_new("T", md, 3);
  EXPECT_EQ(TUL_action("late", obj, nullptr), reinterpret_cast<void*>(2));
  TUL_free(obj);
  TUL_Behavior custom = md->integer_behavior;
  TUL_set_method_table(md, "T", &custom);  // releases the private copy
  EXPECT_EQ(TUL_get_method_table(md, "T"), &custom);
}

TEST_F(CoreTest, RegisteringOnARootChangesItsSharersInThisDictionaryOnly) {
  define("Shared", "INTEGER");
  TUL_Object* obj = TUL_new("Shared", md, 1);  // inherits now
  TUL_register(md, "INTEGER", "refresh", fn(answer_one));
  EXPECT_EQ(TUL_action("refresh", obj, nullptr), reinterpret_cast<void*>(1));
  TUL_Metadata* other = TUL_new_Metadata();
  EXPECT_EQ(TUL_retrieve_action(other, "INTEGER", "refresh"), nullptr);
  TUL_free_Metadata(other);
  TUL_free(obj);
}

TEST_F(CoreTest, TenActionsFitAndTheEleventhIsRefused) {
  std::vector<std::string> names;
  for (int i = 0; i < 11; ++i) names.push_back("act" + std::to_string(i));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(TUL_register(md, "INTEGER", names[i].c_str(), fn(answer_one)), nullptr);
  EXPECT_EQ(TUL_register(md, "INTEGER", names[10].c_str(), fn(answer_two)), nullptr);
  EXPECT_EQ(TUL_retrieve_action(md, "INTEGER", names[10].c_str()), nullptr);
  EXPECT_EQ(TUL_register(md, "INTEGER", names[4].c_str(), fn(answer_two)), fn(answer_one));
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(TUL_retrieve_action(md, "INTEGER", names[i].c_str()), fn(i == 4 ? answer_two : answer_one));
}

TEST_F(CoreTest, SlotsAreCallableByNameAndUnknownNamesAreReported) {
  TUL_Object* a = TUL_new("INTEGER", md, 12);
  auto* copy = static_cast<TUL_Object*>(TUL_action("copy", a, nullptr));
  EXPECT_NE(TUL_action("equal", a, copy), nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(TUL_action("hash", a, nullptr)), TUL_hash(a));
  EXPECT_EQ(TUL_action("free", copy, nullptr), nullptr);
  EXPECT_EQ(traced([&] {
              EXPECT_EQ(TUL_action("refresh", a, nullptr), nullptr);
              EXPECT_EQ(TUL_register(md, "Nope", "print", nullptr), nullptr);
              EXPECT_EQ(TUL_get_method_table(md, "Nope"), nullptr);
            }),
            "#09 no behavior function 'refresh' in an object from type 'INTEGER'\n"
            "#04 no ASN.1 definition with name 'Nope' found\n"
            "#04 no ASN.1 definition with name 'Nope' found\n"
            "#04 no ASN.1 definition with name 'Nope' found\n");
  EXPECT_EQ(TUL_register(md, "INTEGER", nullptr, nullptr), nullptr);
  TUL_free(a);
}

/* ------------------------------------------------------------------------
 * Member access (TUL.Enum is a built-in SEQUENCE { label, value })
 * ---------------------------------------------------------------------- */

TEST_F(CoreTest, AssignHandsThePreviousValueBack) {
  TUL_Object* seq = TUL_alloc("TUL.Enum", md);
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

TEST_F(CoreTest, WrongMembersAndTypesGiveErrorObjects) {
  TUL_Object* seq = TUL_alloc("TUL.Enum", md);
  TUL_Object* flag = TUL_new("BOOLEAN", md, 1);
  TUL_Object* integer = TUL_new("INTEGER", md, 1);
  TUL_Object *unknown = nullptr, *wrong = nullptr;
  EXPECT_EQ(traced([&] {
              unknown = TUL_assoc(seq, "nope");
              wrong = TUL_assign(seq, "value", flag);
              EXPECT_EQ(TUL_members(integer), nullptr);
            }),
            "#06 no field 'nope' in an object from type 'TUL.Enum'\n"
            "#15 this member is supposed to be from type 'INTEGER'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_members'\n");
  EXPECT_EQ(unknown->error, 6);
  EXPECT_EQ(wrong->error, 15);
  EXPECT_EQ(flag->ref_cnt, 0);
  for (TUL_Object* o : {unknown, wrong, flag, integer, seq}) TUL_free(o);
}

TEST_F(CoreTest, AnyMembersAcceptEveryTypeAndMembersAreListedInOrder) {
  define_type(md, "Carrier", "SEQUENCE", {{"payload", "ANY"}});
  TUL_Object* seq = TUL_alloc("Carrier", md);
  TUL_Object* flag = TUL_new("BOOLEAN", md, 1);
  EXPECT_EQ(TUL_assign(seq, "payload", flag), nullptr);
  EXPECT_EQ(TUL_assoc(seq, "payload"), flag);
  TUL_free(seq);  // frees the BOOLEAN too

  TUL_Object* asn1 = TUL_alloc("TUL.Asn1", md);
  char** names = TUL_members(asn1);
  std::string joined;
  for (char** n = names; *n; ++n) joined += std::string(*n) + " ";
  EXPECT_EQ(joined, "name type tagClass tagValue tagModifier fields enums ");
  free(names);
  TUL_free(asn1);
}

/* ------------------------------------------------------------------------
 * Accessors
 * ---------------------------------------------------------------------- */

TEST_F(CoreTest, AccessorsRefuseWrongBasicTypesWithCodeSeven) {
  define("Colour", "ENUMERATED");
  TUL_Object* integer = TUL_new("INTEGER", md, 4);
  TUL_Object* colour = TUL_new("Colour", md, 2);
  TUL_Object* bits = TUL_new("BIT STRING", md, 3, "101");
  EXPECT_EQ(traced([&] {
              EXPECT_EQ(TUL_read_str(integer), nullptr);
              EXPECT_EQ(TUL_read_int(colour), 0);
              EXPECT_EQ(TUL_read_enum(integer), 0);
              EXPECT_EQ(TUL_consume_str(bits), nullptr);
              EXPECT_EQ(TUL_read_real(integer), 0.0);
              EXPECT_EQ(TUL_read_oid(integer), nullptr);
              EXPECT_EQ(TUL_read_bool(integer), 0);
            }),
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_str'\n"
            "#07 an object from type 'Colour' is incompatibel with function 'TUL_read_int'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_enum'\n"
            "#07 an object from type 'BIT STRING' is incompatibel with function 'TUL_consume_str'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_real'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_oid'\n"
            "#07 an object from type 'INTEGER' is incompatibel with function 'TUL_read_bool'\n");
  EXPECT_EQ(TUL_read_enum(colour), 2);
  EXPECT_NE(TUL_read_str(bits), nullptr);  // BIT STRING is readable as text
  // Consuming hands the bytes over once; no value is no trace.
  TUL_Object* str = TUL_new("OCTET STRING", md, 3, "abc");
  char* bytes = TUL_consume_str(str);
  EXPECT_STREQ(bytes, "abc");
  free(bytes);
  EXPECT_EQ(traced([&] { EXPECT_TRUE(!TUL_consume_str(str) && TUL_read_real(nullptr) == 0.0); }), "");
  for (TUL_Object* o : {integer, colour, bits, str}) TUL_free(o);
}

}  // namespace
