// Event record translation: CMIP event reports and SNMPv1 traps, encoded
// here from value notation with the bundled definitions, translated into
// attribute lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/defs_file.h"
#include "support/dictionary_test.h"
#include "support/type_builder.h"
#include "support/value.h"

namespace tul::test {
namespace {

// Text of the standard fields shared by the event reports below.
constexpr const char* kHead =
    "EventReportArgument { managedObjectClass globalForm : { 2 9 3 2 3 13 },"
    " managedObjectInstance distinguishedName : { { { attributeType { 2 9 3 2 7 50 },"
    " attributeValue IA5String \"port-7\" } } },";
constexpr const char* kAlarm = " eventType { 2 9 3 2 10 2 }";
constexpr const char* kFullAlarmInfo =
    ", eventInfo AlarmInfo { probableCause localValue : 15, perceivedSeverity major,"
    " notificationIdentifier 42, additionalText \"link down\" }";

// The lines every event translation starts with (without event time).
constexpr const char* kClassAndInstance =
    "2 9 3 2 7 60=ObjectClass globalForm : {2 9 3 2 3 13}\n"
    "2 9 3 2 7 61=ObjectInstance distinguishedName : { { { attributeType {2 9 3 2 7 50},"
    " attributeValue ANY '1606706F72742D37'H } } }\n";
constexpr const char* kAlarmType = "2 9 3 2 7 14=EventTypeId {2 9 3 2 10 2}\n";
constexpr const char* kSpreadAlarm =
    "2 9 3 2 7 48=ProbableCause localValue : 15\n"
    "2 9 3 2 7 49=PerceivedSeverity major\n"
    "2 9 3 2 7 16=NotificationIdentifier 42\n"
    "2 9 3 2 7 7=AdditionalText \"link down\"\n";

std::string value_line(TUL_Object* v) {
  if (!v) return "<absent>";
  if (v->error) return "<error object>";
  char* text = TUL_print_value(v, 0);
  std::string line = std::string(TUL_object_type(v)) + " " + one_line(text ? text : "");
  std::free(text);
  return line;
}

// One line per attribute: "identifier=Type value"; a nested attribute list
// prints its attributes indented by "  ".
std::string summary(TUL_Object* list, const std::string& indent = "") {
  std::string out;
  for (long i = 0; i < TUL_size(list); ++i) {
    TUL_Object* attribute = TUL_at(list, i);
    TUL_Object* id_value = TUL_assoc(attribute, "attributeId");
    if (id_value && !id_value->error && TUL_object_basic_type(id_value) == TUL_CHOICE_TYPE)
      id_value = TUL_read_choice(id_value);
    char* id = TUL_oid2string(id_value);
    TUL_Object* value = TUL_assoc(attribute, "attributeValue");
    out += indent + (id && *id ? id : "<no identifier>") + "=";
    if (value && !value->error && std::string(TUL_object_type(value)) == "AttributeList")
      out += "AttributeList\n" + summary(value, indent + "  ");
    else
      out += value_line(value) + "\n";
  }
  return out;
}

class TransTest : public DictionaryTest {
 protected:
  void SetUp() override {
    DictionaryTest::SetUp();
    ASSERT_EQ(load_definitions_file(md, example_path("snmpv1.defs")), "");
    ASSERT_EQ(load_definitions_file(md, example_path("cmip.defs")), "");
    TUL_set_option(TUL_OPTION_OID_ANNOTATED, 0);
  }
  void TearDown() override {
    TUL_set_option(TUL_OPTION_OID_ANNOTATED, 1);
    DictionaryTest::TearDown();
  }

  Value encode(const std::string& text) {
    Value ber(encode_text(md, text));
    EXPECT_TRUE(ok(ber)) << text << ": " << text_of(ber.get());
    return ber;
  }

  // Translates the encoding of `text`, with the octets `swap` (when given)
  // replaced by `by` of the same length.
  std::string translate(const char* kind, const std::string& text, const std::string& swap = "",
                        const std::string& by = "") {
    Value ber = encode(text);
    if (!swap.empty()) {
      std::string octets(TUL_read_str(ber.get()), TUL_size(ber.get()));
      size_t at = octets.find(swap);
      EXPECT_NE(at, std::string::npos);
      if (at != std::string::npos) octets.replace(at, swap.size(), by);
      ber.reset(TUL_new("BER-String", md, static_cast<int>(octets.size()), octets.data()));
    }
    Value list(TUL_translate(const_cast<char*>(kind), ber.get(), md));
    if (!list) return "<none>";
    if (list->error) return "<error object>";
    return summary(list.get());
  }
};

TEST_F(TransTest, EventVariants) {
  const std::string bare = std::string(kHead) + kAlarm + " }";
  const std::string full = std::string(kHead) + " eventTime \"20261205224500Z\"," + kAlarm + kFullAlarmInfo + " }";
  const std::string standard = std::string(kClassAndInstance) + kAlarmType;
  const std::string full_standard =
      std::string(kClassAndInstance) + "2 9 3 2 7 13=GeneralizedTime \"20261205224500Z\"\n" + kAlarmType;
  const std::string whole_info =
      "1 3 6 1 4 1 48213 2 2 6 7=AlarmInfo { probableCause localValue : 15, perceivedSeverity major,"
      " notificationIdentifier 42, additionalText \"link down\" }\n";
  std::string nested_spread;
  for (size_t start = 0, end; (end = std::string(kSpreadAlarm).find('\n', start)) != std::string::npos; start = end + 1)
    nested_spread += "  " + std::string(kSpreadAlarm).substr(start, end - start + 1);
  const struct {
    const char* name;
    const char* kind;
    std::string report, expected;
    std::string swap = "", by = "";
  } rows[] = {
      {"no time, no information: the three standard attributes", "EventReportArgument", bare, standard},
      {"event data without information has no second member, and an empty nested list", "zrCMISLogRecord",
       bare,
       standard + "1 3 6 1 4 1 48213 2 2 6 13=ZREventData { eventType {2 9 3 2 10 2} }\n2 9 3 2 7 9=AttributeList\n"},
      {"no information to add whole", "zrEventLogRecord", bare, standard},
      {"every information field spreads, in the template's item order", "EventReportArgument", full,
       full_standard + kSpreadAlarm},
      {"the whole information comes before the spread fields, intact", "zrEventLogRecord", full,
       full_standard + whole_info + kSpreadAlarm},
      {"spread fields go to the nested list", "zrCMISLogRecord", full,
       full_standard +
           "1 3 6 1 4 1 48213 2 2 6 13=ZREventData { eventType {2 9 3 2 10 2}, eventInfo AlarmInfo { probableCause"
           " localValue : 15, perceivedSeverity major, notificationIdentifier 42, additionalText \"link down\" } }\n"
           "2 9 3 2 7 9=AttributeList\n" +
           nested_spread},
      {"absent optional fields are skipped", "EventReportArgument",
       std::string(kHead) + kAlarm + ", eventInfo AlarmInfo { probableCause localValue : 3, perceivedSeverity minor } }",
       standard + "2 9 3 2 7 48=ProbableCause localValue : 3\n2 9 3 2 7 49=PerceivedSeverity minor\n"},
      {"a SET received out of order spreads in item order", "EventReportArgument",
       std::string(kHead) + " eventType { 2 9 3 2 10 6 }, eventInfo ObjectInfo { additionalText \"new\","
           " sourceIndicator managementOperation } }",
       std::string(kClassAndInstance) +
           "2 9 3 2 7 14=EventTypeId {2 9 3 2 10 6}\n2 9 3 2 7 57=SourceIndicator managementOperation\n"
           "2 9 3 2 7 7=AdditionalText \"new\"\n",
       "\x81\x01\x01\x83\x03new", "\x83\x03new\x81\x01\x01"},
      {"an unregistered event type spreads nothing", "EventReportArgument",
       std::string(kHead) + " eventType { 1 3 9999 1 }, eventInfo INTEGER 5 }",
       std::string(kClassAndInstance) + "2 9 3 2 7 14=EventTypeId {1 3 9999 1}\n"},
      {"an event type registered to an attribute spreads nothing", "EventReportArgument",
       std::string(kHead) + " eventType { 2 9 3 2 7 49 }, eventInfo PerceivedSeverity critical }",
       std::string(kClassAndInstance) + "2 9 3 2 7 14=EventTypeId {2 9 3 2 7 49}\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(translate(row.kind, row.report, row.swap, row.by), row.expected);
  }
}

TEST_F(TransTest, TrapFieldsThenOneAttributePerBinding) {
  const std::string trap =
      "Trap-PDU { enterprise { 1 3 6 1 4 1 32473 1 }, agent-addr internet : 'C000020A'H, generic-trap linkDown,"
      " specific-trap 0, time-stamp 123456, variable-bindings {"
      " { name { 1 3 6 1 2 1 2 2 1 1 2 }, value simple : number : 2 },"
      " { name { 1 3 6 1 2 1 2 2 1 10 2 }, value application-wide : counter : 3456789 } } }";
  EXPECT_EQ(translate("Trap-PDU", trap),
            "1 3 6 1 4 1 48213 2 2 6 3=OBJECT IDENTIFIER {1 3 6 1 4 1 32473 1}\n"
            "1 3 6 1 4 1 48213 2 2 6 4=NetworkAddress internet : 'C000020A'H\n"
            "1 3 6 1 4 1 48213 2 2 3 1=INTEGER 2\n"
            "1 3 6 1 4 1 48213 2 2 6 0=INTEGER 0\n"
            "1 3 6 1 4 1 48213 2 2 6 5=TimeTicks 123456\n"
            "1 3 6 1 2 1 2 2 1 1 2=ObjectSyntax simple : number : 2\n"
            "1 3 6 1 2 1 2 2 1 10 2=ObjectSyntax application-wide : counter : 3456789\n");
}

// Items naming no member, or an attribute label without a template, are
// skipped without an error object or an empty identifier in the result.
TEST_F(TransTest, UnusableItemsAreSkipped) {
  enter("TUL.Notification { registration '1 3 9999 7', label 'odd', information { syntax 'AlarmInfo',"
        " andAttributeIds { { field 'nosuch', attribute 'probableCause' }, { field 'perceivedSeverity',"
        " attribute 'noTemplate' }, { field 'additionalText', attribute 'additionalText' } } } }");
  StderrCapture quiet;
  EXPECT_EQ(translate("EventReportArgument", std::string(kHead) + " eventType { 1 3 9999 7 }" + kFullAlarmInfo + " }"),
            std::string(kClassAndInstance) + "2 9 3 2 7 14=EventTypeId {1 3 9999 7}\n" +
                "2 9 3 2 7 7=AdditionalText \"link down\"\n");
}

TEST_F(TransTest, WhatDoesNotTranslateGivesNone) {
  const std::string event = std::string(kHead) + kAlarm + " }";
  Value not_ber(TUL_new("BER-String", md, 3, "\x30\x85\x01"));
  Value event_ber = encode(event);
  StderrCapture quiet;
  const struct {
    const char* name;
    const char* kind;
    TUL_Object* ber;
  } rows[] = {
      {"not BER", "EventReportArgument", not_ber.get()},
      {"an event report read as a trap", "Trap-PDU", event_ber.get()},
      {"an unknown kind", "EventReport", event_ber.get()},
      {"no kind", nullptr, event_ber.get()},
      {"no octets", "EventReportArgument", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Value list(TUL_translate(const_cast<char*>(row.kind), row.ber, md));
    EXPECT_EQ(list, nullptr);
  }
  // Information that does not decode against the notification's syntax.
  Value bad_info(encode_text(md, std::string(kHead) + kAlarm + ", eventInfo INTEGER 5 }"));
  ASSERT_TRUE(ok(bad_info));
  EXPECT_EQ(Value(TUL_translate(const_cast<char*>("EventReportArgument"), bad_info.get(), md)), nullptr);
}

// Definitions of the wrong shape: an event report with fewer than five
// members, and a trap whose bindings are no list.
TEST_F(DictionaryTest, ReportsOfTheWrongShape) {
  for (const char* text :
       {"TUL.Asn1 { name 'EventReportArgument', type 'SEQUENCE', fields { { name 'a', type 'INTEGER' } } }",
        "TUL.Asn1 { name 'Trap-PDU', type 'SEQUENCE', fields { { name 'enterprise', type 'OBJECT IDENTIFIER' },"
        " { name 'variable-bindings', type 'INTEGER' } } }",
        "TUL.Asn1 { name 'AttributeId', type 'OBJECT IDENTIFIER' }",
        "TUL.Asn1 { name 'Attribute', type 'SEQUENCE', fields { { name 'attributeId', type 'AttributeId' },"
        " { name 'attributeValue', type 'ANY' } } }",
        "TUL.Asn1 { name 'AttributeList', type 'SEQUENCE OF', fields { { type 'Attribute' } } }"})
    enter(text);
  Value event(encode_text(md, "EventReportArgument { a 1 }"));
  EXPECT_EQ(Value(TUL_translate(const_cast<char*>("EventReportArgument"), event.get(), md)), nullptr);
  Value trap(encode_text(md, "Trap-PDU { enterprise { 1 3 6 1 }, variable-bindings 4 }"));
  StderrCapture quiet;
  Value list(TUL_translate(const_cast<char*>("Trap-PDU"), trap.get(), md));
  ASSERT_TRUE(ok(list));
  EXPECT_EQ(summary(list.get()), "1 3 6 1 4 1 48213 2 2 6 3=OBJECT IDENTIFIER {1 3 6 1}\n");
}

// Identifiers declared as CHOICEs of a global and a local form, as CMIP
// modules declare them: attributes are made in the global form, and the
// event type's global form still finds the template that spreads the
// information.
TEST_F(DictionaryTest, IdentifiersDeclaredAsChoices) {
  ASSERT_EQ(load_definitions_file(md, example_path("cmip1.defs")), "");
  {
    StderrCapture quiet;  // the OBJECT IDENTIFIER forms of cmip.defs are ignored
    load_definitions_file(md, example_path("cmip.defs"));
  }
  Value ber(encode_text(md,
                        "EventReportArgument { managedObjectClass globalForm : { 2 9 3 2 3 13 },"
                        " managedObjectInstance distinguishedName : { { { attributeType { 2 9 3 2 7 50 },"
                        " attributeValue '1606706F72742D37'H } } }, eventType globalForm : { 2 9 3 2 10 2 }" +
                            std::string(kFullAlarmInfo) + " }"));
  ASSERT_TRUE(ok(ber));
  Value list(TUL_translate(const_cast<char*>("EventReportArgument"), ber.get(), md));
  ASSERT_TRUE(ok(list));
  EXPECT_EQ(summary(list.get()),
            "2 9 3 2 7 60=ObjectClass globalForm : {2 9 3 2 3 13}\n"
            "2 9 3 2 7 61=ObjectInstance distinguishedName : { { { attributeType {2 9 3 2 7 50},"
            " attributeValue '1606706F72742D37'H } } }\n"
            "2 9 3 2 7 14=EventTypeId globalForm : {2 9 3 2 10 2} -- communicationsAlarm --\n" +
                std::string(kSpreadAlarm));
}

// A CHOICE without an OBJECT IDENTIFIER alternative gives no attributes
// rather than a malformed one.
TEST_F(DictionaryTest, IdentifierChoiceWithoutGlobalForm) {
  enter("TUL.Asn1 { name 'AttributeId', type 'CHOICE', fields { { name 'localForm', type 'INTEGER' } } }");
  ASSERT_EQ(load_definitions_file(md, example_path("snmpv1.defs")), "");
  {
    StderrCapture quiet;
    load_definitions_file(md, example_path("cmip.defs"));
  }
  Value ber(encode_text(md, "Trap-PDU { enterprise { 1 3 6 1 4 1 32473 1 }, agent-addr internet : 'C000020A'H,"
                            " generic-trap linkDown, specific-trap 0, time-stamp 1, variable-bindings { } }"));
  ASSERT_TRUE(ok(ber));
  Value list(TUL_translate(const_cast<char*>("Trap-PDU"), ber.get(), md));
  ASSERT_TRUE(ok(list));
  EXPECT_EQ(TUL_size(list.get()), 0);
}

// Whichever allocation fails, the result is none or a list of complete
// attributes, and nothing leaks.
TEST_F(TransTest, AllocationFailuresLeaveNoPartialAttribute) {
  Value ber = encode(std::string(kHead) + " eventTime \"20261205224500Z\"," + kAlarm + kFullAlarmInfo + " }");
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (long n = 1, fired = true; fired; ++n) {
    SCOPED_TRACE(n);
    Value list;
    {
      FailNthAllocation fail(n);
      list.reset(TUL_translate(const_cast<char*>("zrCMISLogRecord"), ber.get(), md));
      fired = fail.fired();
    }
    if (list) {
      ASSERT_EQ(list->error, 0);
      std::string text = summary(list.get());
      EXPECT_EQ(text.find("<"), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace tul::test
