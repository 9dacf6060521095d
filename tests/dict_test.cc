// The dictionary object: built-in rows, bindings, singletons, insertion with
// the first-definition-wins rule, and creation under memory shortage.
#include "dict.h"

#include <gtest/gtest.h>

#include <string>

#include "dtd.h"
#include "hash.h"
#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using namespace tul::test;

using BuiltinTest = DictionaryTest;

TEST_F(BuiltinTest, RowsCarryTheirTagsBasesAndMembers) {
  struct Row {
    const char* name;
    const char* base;
    int32_t tag_flag, tag_val, size, is_builtin;
  } rows[] = {
      {"BOOLEAN", nullptr, 0, 1, 0, 1},
      {"REAL", nullptr, 0, 9, 0, 1},
      {"SEQUENCE OF", nullptr, 0, 16, 1, 1},
      {"PrintableString", "IA5String", 0x10, 19, 0, 1},
      {"EXTERNAL", "SEQUENCE", 0x10, 8, 4, 1},
      {"Encoding-Choice", "CHOICE", 0, 0, 3, 1},
      {"ANY", "BER-String", 0, 0, 0, 1},
      {"BER-String", "OCTET STRING", 0, 0, 0, 1},
      {"TUL.String", "PrintableString", 0, 0, 0, 0},
      {"TUL.Asn1", "SEQUENCE", 0, 0, 7, 0},
      {"TUL.Field", "SEQUENCE", 0, 0, 8, 0},
      {"TUL.TagModifier", "ENUMERATED", 0, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TUL_Asn1TypeEntry* e = type(row.name);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->type, row.base ? TUL_unique_string(row.base) : nullptr);
    EXPECT_EQ(e->tag_flag, row.tag_flag);
    EXPECT_EQ(e->tag_val, row.tag_val);
    EXPECT_EQ(e->size, row.size);
    EXPECT_EQ(e->is_builtin, row.is_builtin);
    EXPECT_EQ(e->has_explicit, 1);
    EXPECT_EQ(e->dtd, md);
  }
  TUL_Asn1Type& octet_aligned = type("Encoding-Choice")->members[1];
  EXPECT_STREQ(octet_aligned.name, "octet-aligned");
  EXPECT_EQ(octet_aligned.tag_flag, 0x12);
  EXPECT_EQ(octet_aligned.tag_val, 1);
  TUL_Asn1Type& existence = type("TUL.Field")->members[5];
  EXPECT_EQ(existence.tag_flag, 0x22);
  ASSERT_EQ(existence.enums, 3);
  EXPECT_STREQ(existence.enum_list[2].name, "default");
  EXPECT_EQ(existence.enum_list[2].val, 2);
  EXPECT_EQ(type("TUL.TagClass")->enums, 4);
}

// Built-in types are bound to their tables by name, others inherit on first
// use; the two singletons survive every release.
TEST_F(BuiltinTest, TablesAndSingletons) {
  EXPECT_EQ(type("IA5String")->behavior, &md->printable_behavior);
  EXPECT_EQ(type("TeletexString")->behavior, nullptr);
  TUL_Object* s = TUL_new("TeletexString", md, -1, "abc");
  EXPECT_EQ(type("TeletexString")->behavior, &md->printable_behavior);
  EXPECT_EQ(text_of(s), "abc");
  TUL_free(s);
  EXPECT_STREQ(TUL_object_type(md->tmp_object), "TUL.Unitialized");
  EXPECT_EQ(text_of(md->tmp_object), "!!! object is not initialized yet !!!");
  TUL_free(md->tmp_object);
  EXPECT_EQ(TUL_copy(md->tmp_object), md->tmp_object);
  EXPECT_STREQ(TUL_object_type(md->alloc_error), "TUL.AllocationError");
  EXPECT_EQ(traced([&] { EXPECT_EQ(TUL_error(md, 2), md->alloc_error); }), "#02 memory allocation error\n");
  TUL_free(md->alloc_error);
  EXPECT_EQ(TUL_copy(md->alloc_error), md->alloc_error);
  EXPECT_EQ(text_of(md->alloc_error), "!!! memory allocation error !!!");
  EXPECT_EQ(md->valid_registrations, 0);
}

using InsertTest = DictionaryTest;

// The duplicate check compares interned keys by identity.
TEST_F(InsertTest, FirstDefinitionOfANameWins) {
  define_type(md, TUL_unique_string("Counter"), "INTEGER", {}, 0x11, 1);
  int32_t before = md->asn1_types->count;
  EXPECT_EQ(traced([&] { define_type(md, TUL_unique_string("Counter"), "OCTET STRING", {}, 0, 9); }), "");
  EXPECT_EQ(md->asn1_types->count, before);
  EXPECT_STREQ(type("Counter")->type, "INTEGER");
  EXPECT_EQ(type("Counter")->tag_val, 1);
}

TEST_F(InsertTest, SelfDerivedAndUnknownKindsAreNotEntered) {
  int32_t before = md->asn1_types->count;
  TUL_Asn1TypeEntry self{};
  self.name = self.type = TUL_unique_string("Loop");
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&self), nullptr);
  TUL_Asn1TypeEntry odd{};
  odd.name = TUL_unique_string("Odd");
  odd.entry_type = 10;
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&odd), nullptr);
  _TUL_add_definition(md, nullptr, nullptr);
  _TUL_add_definition(nullptr, reinterpret_cast<TUL_Entry*>(&odd), nullptr);
  EXPECT_EQ(md->asn1_types->count, before);
}

// Notification ids are checked through their built descriptions with the
// meta-schema; here the first label wins and behaviours lose a registration.
TEST_F(InsertTest, TemplatesAreCopiedFirstLabelWinning) {
  TUL_BehaviorEntry b{};
  b.entry_type = TUL_ENTRY_BEHAVIOR;
  b.name = const_cast<char*>("1 2 3");
  b.label = TUL_unique_string("alarmBehaviour");
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&b), nullptr);
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&b), nullptr);
  ASSERT_EQ(md->behaviors->count, 1);
  auto* found = static_cast<TUL_BehaviorEntry*>(TULH_assoc_entry(md->behaviors, &b));
  EXPECT_NE(found, &b);
  EXPECT_EQ(found->name, nullptr);
}

TEST_F(InsertTest, ShortagesLeaveTheCallersRecordAloneAndLeakNothing) {
  TUL_AndAttributeId ids[] = {{const_cast<char*>("f1"), const_cast<char*>("severity"), nullptr}};
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (long n = 1;; ++n) {
    std::string label = "alarm" + std::to_string(n);  // fresh names to intern each run
    TUL_NotificationEntry e{};
    e.entry_type = TUL_ENTRY_NOTIFICATION;
    e.label = const_cast<char*>(label.c_str());
    e.info_syntax = const_cast<char*>("AlarmInfo");
    e.size = 1;
    e.ids = ids;
    FailNthAllocation fail(n);
    _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&e), nullptr);
    EXPECT_EQ(e.ids, ids);
    if (!fail.fired()) break;
  }
  EXPECT_STREQ(ids[0].attribute, "severity");
}

TEST(Creation, EveryAllocationFailureIsHandledWithoutLeaks) {
  // Fail the 1st, 2nd, ... allocation of a dictionary's creation until one
  // run needs no failure; each run must give null or a usable dictionary.
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (long n = 1;; ++n) {
    TUL_Metadata* md;
    bool fired;
    {
      FailNthAllocation fail(n);
      md = TUL_new_Metadata();
      fired = fail.fired();
    }
    if (md) {
      TUL_Object* obj = TUL_new("INTEGER", md, 3);
      if (obj && !obj->error) {
        EXPECT_EQ(TUL_read_int(obj), 3);
      }
      TUL_free(obj);
      TUL_free_Metadata(md);
    }
    TUL_free_unique_strings();
    if (!fired) break;
  }
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);
}

}  // namespace
