// The meta-schema: definitions entered from values and texts, descriptions
// built back from entries, template lookup and its frozen indexes. (ANY
// DEFINED BY members typed through registered templates are covered with
// the codec.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dict.h"
#include "dtd.h"
#include "support/dictionary_test.h"
#include "support/type_builder.h"

namespace {

using namespace tul::test;

using MetaTest = DictionaryTest;

// A new dictionary: 88 types, no templates; the roots describe nothing but
// have their basic types.
TEST_F(MetaTest, NewDictionaryTypesAndRoots) {
  EXPECT_EQ(TUL_number_asn1_def(md), 88);
  for (int (*count)(TUL_Metadata*) :
       {TUL_number_attributes, TUL_number_notifications, TUL_number_parameters, TUL_number_actions, TUL_number_mocs,
        TUL_number_packages, TUL_number_name_bindings, TUL_number_attribute_groups, TUL_number_behaviors})
    EXPECT_EQ(count(md), 0);
  EXPECT_EQ(TUL_number_attributes(nullptr), 0);
  EXPECT_EQ(TUL_asn1_info(md, "INTEGER", 0), nullptr);
  EXPECT_EQ(TUL_asn1_basic_type(md, "INTEGER"), TUL_INTEGER_TYPE);
  EXPECT_EQ(TUL_asn1_basic_type(md, "TUL.Metadata"), TUL_SET_TYPE);
  EXPECT_EQ(traced([&] {
              EXPECT_EQ(TUL_asn1_basic_type(md, "Nope"), 0);
              EXPECT_EQ(TUL_asn1_info(md, "Nope", 0), nullptr);
            }),
            "#04 no ASN.1 definition with name 'Nope' found\n#04 no ASN.1 definition with name 'Nope' found\n");
}

TEST_F(MetaTest, TagsReadFromDescriptions) {
  struct Row {
    const char* name;
    const char* tag;
    int32_t tag_flag, tag_val;
  } rows[] = {
      {"A", "tagValue 3", 0x22, 3},
      {"B", "tagValue 3, tagModifier implicit", 0x12, 3},
      {"C", "tagClass application, tagValue 4, tagModifier implicit", 0x11, 4},
      {"D", "tagClass private", 0, 0},
      {"E", "tagClass universal, tagValue 7, tagModifier explicit", 0x20, 7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    enter(std::string("TUL.Asn1 { name '") + row.name + "', type 'INTEGER', " + row.tag + " }");
    TUL_Asn1TypeEntry* e = type(row.name);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->tag_flag, row.tag_flag);
    EXPECT_EQ(e->tag_val, row.tag_val);
  }
}

TEST_F(MetaTest, DescriptionsOfDerivedAndFinalTypes) {
  enter("TUL.Asn1 { name 'Point', type 'SEQUENCE', fields { { name 'x', type 'INTEGER' },"
        " { name 'y', tagValue 1, tagModifier implicit, type 'INTEGER', existence optional } } }");
  enter("TUL.Asn1 { name 'Spot', type 'Point' }");
  TUL_Object* own = TUL_asn1_info(md, "Spot", 0);
  TUL_Object* final = TUL_asn1_info(md, "Spot", 1);
  ASSERT_NE(own, nullptr);
  ASSERT_NE(final, nullptr);
  EXPECT_EQ(printed(own), "TUL.Asn1 {\n    name \"Spot\",\n    type \"Point\"\n}");
  EXPECT_EQ(TUL_asn1_info(md, "Point", 0), final);
  TUL_Object* fields = TUL_assoc(final, "fields");
  ASSERT_NE(fields, nullptr);
  EXPECT_EQ(TUL_size(fields), 2);
  TUL_Object* y = TUL_at(fields, 1);
  EXPECT_EQ(TUL_read_int(TUL_assoc(y, "tagValue")), 1);
  EXPECT_EQ(TUL_read_enum(TUL_assoc(y, "tagModifier")), 0);
  EXPECT_EQ(TUL_assoc(y, "tagClass"), nullptr);  // context-specific is the default
  EXPECT_EQ(TUL_read_enum(TUL_assoc(y, "existence")), 1);
  TUL_Object* spot = TUL_alloc("Spot", md);
  EXPECT_EQ(TUL_object_info(spot, 0), own);
  EXPECT_EQ(TUL_object_info(spot, 1), final);
  TUL_free(spot);
}

// Every description printed, parsed back, entered into a fresh dictionary
// under the same name and described again gives an equal value.
TEST_F(MetaTest, EveryDescriptionRoundTripsThroughText) {
  std::vector<std::string> texts;
  TUL_for_each_asn1_def(
      md, [](TUL_Object* v, void* d) {
        char* text = TUL_print2str(v);
        static_cast<std::vector<std::string>*>(d)->push_back(text);
        free(text);
      },
      &texts);
  EXPECT_EQ(texts.size(), 88u - 14u);  // the 14 roots have no description
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    TUL_Metadata* fresh = TUL_new_Metadata();
    TUL_Object* v = TUL_parse_str(fresh, text.c_str());
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(v->error, 0) << text_of(v);
    char* name = TUL_read_str(TUL_assoc(v, "name"));
    // A fresh dictionary already holds the name; enter it under another one.
    std::string renamed = std::string("Copy-") + name;
    TUL_Object* old = TUL_assign(v, "name", TUL_new("TUL.String", fresh, -1, renamed.c_str()));
    TUL_free(old);
    EXPECT_EQ(TUL_add_definition(fresh, v), v);
    TUL_Object* again = TUL_asn1_info(fresh, renamed.c_str(), 0);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(TUL_equal(again, v));
    TUL_free(v);
    TUL_free_Metadata(fresh);
  }
}

TEST_F(MetaTest, TemplatesFirstWinAndIndexesFreezeAtFirstLookup) {
  const char* attribute = "TUL.Attribute { registration '2 9 3 2 7 1', label 'severity',"
                          " derivedOrSyntax syntax : 'INTEGER' }";
  enter(attribute);
  enter("TUL.Attribute { registration '1 1', label 'severity', derivedOrSyntax derivedFrom : 'other' }");
  EXPECT_EQ(TUL_number_attributes(md), 1);
  enter("TUL.Behavior { label 'severity', definedAs \"twice\" }");
  enter("TUL.Behavior { label 'alarmBehaviour', definedAs \"text\" }");
  TUL_Object* found = TUL_templateByName(md, "severity");
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(TUL_object_type(found), "TUL.Attribute");  // attributes come first
  EXPECT_EQ(TUL_templateByName(md, "severity"), found);
  TUL_Object* behaviour = TUL_templateByName(md, "alarmBehaviour");
  ASSERT_NE(behaviour, nullptr);
  EXPECT_STREQ(TUL_object_type(behaviour), "TUL.Behavior");
  EXPECT_EQ(md->valid_registrations, 1);
  int32_t arcs[] = {2, 9, 3, 2, 7, 1};
  TUL_Object* oid = TUL_new("OBJECT IDENTIFIER", md, 6, arcs);
  EXPECT_EQ(TUL_templateByRegistration(md, oid), found);
  TUL_free(oid);
  enter("TUL.Attribute { registration '2 9 3 2 7 2', label 'late', derivedOrSyntax syntax : 'INTEGER' }");
  EXPECT_EQ(TUL_number_attributes(md), 2);
  EXPECT_EQ(TUL_templateByName(md, "late"), nullptr);
}

TEST_F(MetaTest, TemplatesEnteredFromRawRecordsGetBuiltDescriptions) {
  TUL_ParameterEntry p{};
  p.entry_type = TUL_ENTRY_PARAMETER;
  p.name = const_cast<char*>("1 2 3");
  p.label = const_cast<char*>("cause");
  p.syntax = const_cast<char*>("INTEGER");
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&p), nullptr);
  TUL_AndAttributeId ids[] = {{const_cast<char*>("f"), const_cast<char*>("severity"), nullptr}};
  TUL_NotificationEntry n{};
  n.entry_type = TUL_ENTRY_NOTIFICATION;
  n.name = const_cast<char*>("1 2 4");
  n.label = const_cast<char*>("alarm");
  n.info_syntax = const_cast<char*>("AlarmInfo");
  n.size = 1;
  n.ids = ids;
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&n), nullptr);
  EXPECT_EQ(printed(TUL_templateByName(md, "cause")),
            "TUL.Parameter {\n    registration \"1 2 3\",\n    label \"cause\",\n"
            "    syntaxOrAttribute withSyntax : \"INTEGER\"\n}");
  TUL_Object* alarm = TUL_templateByName(md, "alarm");
  ASSERT_NE(alarm, nullptr);
  TUL_Object* info = TUL_assoc(alarm, "information");
  EXPECT_STREQ(TUL_read_str(TUL_assoc(info, "syntax")), "AlarmInfo");
  TUL_Object* id = TUL_at(TUL_assoc(info, "andAttributeIds"), 0);
  EXPECT_STREQ(TUL_read_str(TUL_assoc(id, "attribute")), "severity");
}

TEST_F(MetaTest, MetadataValuesEnterAllTheirMembersAndFinalize) {
  StderrCapture err;  // probing optional parts reports nothing
  enter("TUL.Metadata { asn1Defs { { name 'Severity', type 'INTEGER' } },"
        " mocs { { registration '1 2 9', label 'system' } },"
        " behaviors { { label 'b', definedAs \"x\" } } }");
  EXPECT_NE(type("Severity"), nullptr);
  EXPECT_EQ(TUL_number_mocs(md), 1);
  EXPECT_EQ(TUL_number_behaviors(md), 1);
  EXPECT_EQ(md->valid_registrations, 1);
  EXPECT_EQ(err.take(), "");
}

// Values that are no definitions, and definitions no value could ever use
// (a type derived from itself, a tag number the reader cannot read back),
// are refused with error 13 and enter nothing.
TEST_F(MetaTest, NonDefinitionsAreRefused) {
  const char* rows[] = {
      "INTEGER 1",
      "TUL.Asn1 { name 'Self', type 'Self' }",
      "TUL.Asn1 { name 'Huge', type 'INTEGER', tagClass application, tagValue 65537 }",
      "TUL.Asn1 { name 'Unreadable', type 'INTEGER', tagValue 16384 }",
      "TUL.Asn1 { name 'Negative', type 'INTEGER', tagValue -1 }",
      "TUL.Asn1 { name 'BadMember', type 'SEQUENCE', fields { { name 'm', type 'INTEGER', tagValue 20000 } } }",
  };
  StderrCapture err;
  for (const char* text : rows) {
    SCOPED_TRACE(text);
    TUL_Object* value = TUL_parse_str(md, text);
    ASSERT_EQ(value->error, 0);
    TUL_Object* result = TUL_add_definition(md, value);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(text_of(result), "#13 invalid definition (ASN.1 or GDMO) provided");
    TUL_free(result);
    TUL_free(value);
  }
  for (const char* name : {"Self", "Huge", "Unreadable", "Negative", "BadMember"}) EXPECT_EQ(type(name), nullptr);
  enter("TUL.Asn1 { name 'Highest', type 'INTEGER', tagValue 16383 }");
  EXPECT_NE(type("Highest"), nullptr);
  TUL_Object* result = TUL_add_definition(md, nullptr);
  EXPECT_EQ(result->error, 13);
  TUL_free(result);
  err.take();
}

// A definition either enters whole, or the call says it did not: under a
// memory shortage at any allocation the answer is error 2 and the name
// stays unknown, never the value itself with the definition lost.
TEST_F(MetaTest, ShortageNeverReportsSuccess) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  const char* texts[] = {
      "TUL.Asn1 { name 'Swept', type 'SEQUENCE', fields { { name 'a', type 'INTEGER', enums { { label 'one', "
      "value 1 } } }, { name 'b', type 'IA5String', tagValue 3 } } }",
      "TUL.Attribute { registration '1 2 3', label 'sweptAttribute', derivedOrSyntax syntax : 'INTEGER' }",
  };
  for (const char* text : texts) {
    for (long n = 1;; ++n) {
      SCOPED_TRACE(std::string(text) + ", failing allocation " + std::to_string(n));
      TUL_free_Metadata(md);
      md = TUL_new_Metadata();
      TUL_Object* value = TUL_parse_str(md, text);
      TUL_Object* result;
      {
        FailNthAllocation failure(n);
        result = TUL_add_definition(md, value);
        if (!failure.fired()) {
          EXPECT_EQ(result, value);
          TUL_free(value);
          break;
        }
      }
      bool known = type("Swept") || _TUL_templateByName(md, "sweptAttribute");
      if (result == value) {
        EXPECT_TRUE(known);
      } else {
        EXPECT_EQ(result->error, 2);
        EXPECT_FALSE(known);
      }
      TUL_free(value);
    }
  }
}

TEST_F(MetaTest, LoadingTextsStopsAtTheFirstFailure) {
  char first[] = "TUL.Asn1 { name 'Kept', type 'INTEGER' }";
  char second[] = "Ghost { }";  // a known string that names no type
  TUL_unique_string("Ghost");
  char third[] = "TUL.Asn1 { name 'Lost', type 'INTEGER' }";
  char* texts[] = {first, second, third, nullptr};
  StderrCapture err;
  EXPECT_EQ(TUL_load_Metadata_string(md, texts), 4);
  EXPECT_NE(type("Kept"), nullptr);
  EXPECT_EQ(type("Lost"), nullptr);
  char bad[] = "TUL.Asn1 { name 'Half' ";
  char* unfinished[] = {bad, nullptr};
  EXPECT_EQ(TUL_load_Metadata_string(md, unfinished), 20);
  char never_seen[] = "NeverSeenTypeName { }";
  char* unknown[] = {never_seen, nullptr};
  EXPECT_EQ(TUL_load_Metadata_string(md, unknown), 11);
  err.take();
}

TEST_F(MetaTest, IncompleteDefinitionsNeverBreakLaterLookups) {
  StderrCapture err;
  enter("TUL.Asn1 { type 'INTEGER' }");                                 // no name: nothing entered
  enter("TUL.Attribute { label 'noSyntax', derivedOrSyntax syntax : 'X' }");  // no registration
  enter("TUL.MOC { registration 'not an oid', label 'm' }");
  EXPECT_NE(TUL_templateByName(md, "m"), nullptr);  // indexed by label, skipped by registration
  EXPECT_EQ(md->registrations->count, 0);
  err.take();
}

}  // namespace
