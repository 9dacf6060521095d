// Templates from GDMO text and SNMP MIB modules: every kind and clause
// against the meta-schema value it must give, the lexical forms, inline
// templates, damaged texts, and the two end-to-end uses (an event report
// translated through an imported notification, trap bindings printed with
// labels from an imported MIB).
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/defs_file.h"
#include "support/dictionary_test.h"
#include "support/value.h"

namespace tul::test {
namespace {

std::string squeeze(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\t' || c == '\n';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  return out;
}

class GdmoTest : public DictionaryTest {
 protected:
  // Imports `texts` as one batch; answers "line [item] message" per diagnostic.
  std::vector<std::string> import(const std::vector<std::string>& texts, const char* name = "t.gdmo") {
    std::vector<std::string> paths, messages;
    for (std::size_t k = 0; k < texts.size(); ++k) {
      paths.push_back(std::string(::testing::TempDir()) + "/" + std::to_string(k) + name);
      FILE* f = std::fopen(paths.back().c_str(), "w");
      std::fputs(texts[k].c_str(), f);
      std::fclose(f);
    }
    std::vector<const char*> names;
    for (const std::string& p : paths) names.push_back(p.c_str());
    TUL_ImportResult* r = TUL_import_files(md, names.data(), static_cast<int>(names.size()), 0);
    if (!r) return {"no result"};
    for (int k = 0; k < 9; ++k) entered += r->templates_entered[k];
    for (int k = 0; k < r->diagnostic_count; ++k) {
      const TUL_ImportDiagnostic& d = r->diagnostics[k];
      messages.push_back(std::to_string(d.line) + " [" + d.item + "] " + d.message);
    }
    TUL_free_import_result(r);
    return messages;
  }

  // The template's meta-schema value in one line; "(none)" when absent.
  std::string value_of(const char* label) {
    TUL_Object* v = TUL_templateByName(md, label);
    if (!v) return "(none)";
    char* text = TUL_print_value(v, 0);
    std::string s = squeeze(text ? text : "");
    std::free(text);
    return s;
  }

  static bool mentions(const std::vector<std::string>& messages, const std::string& part) {
    for (const std::string& m : messages)
      if (m.find(part) != std::string::npos) return true;
    return false;
  }

  int entered = 0;
};

// Every kind with every clause; qualified labels, module prefixes and
// values named through the batch's own ASN.1 module.
constexpr const char* kAllKinds = R"GDMO(-- Every template kind with every clause; values from the module below.
Test-Values DEFINITIONS ::= BEGIN
testArc OBJECT IDENTIFIER ::= { 1 3 6 1 4 1 32473 9 }
Range ::= INTEGER
END

top MANAGED OBJECT CLASS
  DERIVED FROM "Rec. X.721 | ISO/IEC 10165-2 : 1992":parentClass, {2 9 3}:otherParent;
  ALLOMORPHIC SET otherClass;
  CHARACTERIZED BY basePkg;
  CONDITIONAL PACKAGES optPkg PRESENT IF !the "x" feature!,
                       otherPkg PRESENT IF undelimited condition;
REGISTERED AS { testArc 3 1 };

basePkg PACKAGE
  BEHAVIOUR pkgBehaviour;
  ATTRIBUTES
    counter REPLACE-WITH-DEFAULT DEFAULT VALUE Test-Values.zero INITIAL VALUE DERIVATION RULE initRule
      PERMITTED VALUES Test-Values.Range REQUIRED VALUES Range GET REPLACE ADD-REMOVE SET-BY-CREATE p1,
    state GET NO-MODIFY;
  ATTRIBUTE GROUPS grp counter state;
  ACTIONS reset p1;
  NOTIFICATIONS alarm p1 p2;
REGISTERED AS { testArc 4 1 };

p1 PARAMETER
  CONTEXT Test-Values.Range.field;
  WITH SYNTAX Test-Values.Range;
  BEHAVIOUR pkgBehaviour;
REGISTERED AS { testArc 5 1 };

p2 PARAMETER CONTEXT EVENT-INFO; ATTRIBUTE counter; ;

nb NAME BINDING
  SUBORDINATE OBJECT CLASS top AND SUBCLASSES;
  NAMED BY SUPERIOR OBJECT CLASS top;
  WITH ATTRIBUTE state;
  BEHAVIOUR pkgBehaviour;
  CREATE WITH-REFERENCE-OBJECT, WITH-AUTOMATIC-INSTANCE-NAMING p1;
  DELETE DELETES-CONTAINED-OBJECTS p1;
REGISTERED AS { testArc 6 1 };

counter ATTRIBUTE
  WITH ATTRIBUTE SYNTAX Test-Values.Range;
  MATCHES FOR EQUALITY, ORDERING, SUBSTRINGS, SET-COMPARISON, SET-INTERSECTION;
  BEHAVIOUR pkgBehaviour;
  PARAMETERS p1;
REGISTERED AS { testArc 7 1 };

state ATTRIBUTE DERIVED FROM counter; REGISTERED AS { testArc 7 2 };

grp ATTRIBUTE GROUP
  GROUP ELEMENTS counter, state;
  FIXED;
  DESCRIPTION #a group#;
REGISTERED AS { testArc 8 1 };

pkgBehaviour BEHAVIOUR DEFINED AS "says ""hello""";
initRule BEHAVIOUR DEFINED AS undelimited text;

reset ACTION
  BEHAVIOUR pkgBehaviour;
  MODE CONFIRMED;
  PARAMETERS p1;
  WITH INFORMATION SYNTAX Range AND ATTRIBUTE IDS value counter;
  WITH REPLY SYNTAX Test-Values.Range;
REGISTERED AS { testArc 9 1 };

alarm NOTIFICATION
  BEHAVIOUR pkgBehaviour;
  PARAMETERS p1;
  WITH INFORMATION SYNTAX Range AND ATTRIBUTE IDS value counter, other state;
  WITH REPLY SYNTAX Range;
REGISTERED AS { testArc 10 1 };
)GDMO";

TEST_F(GdmoTest, EveryKindAndClauseGivesItsTemplateValue) {
  const std::vector<std::string> messages = import({kAllKinds});
  EXPECT_TRUE(mentions(messages, "0 [] 4 GDMO clauses the dictionary cannot hold were read and dropped"));
  EXPECT_TRUE(mentions(messages, "8 [top] label parentClass is used but not defined"));
  EXPECT_EQ(entered, 12);
  const struct {
    const char* label;
    const char* value;
  } rows[] = {
      {"top",
       "{ registration \"1 3 6 1 4 1 32473 9 3 1\", label \"top\", derivedFrom { \"parentClass\", \"otherParent\" }, "
       "characterizedBy { \"basePkg\" }, conditional { { label \"optPkg\", presentIf \"text ... suppressed\" }, "
       "{ label \"otherPkg\", presentIf \"text ... suppressed\" } } }"},
      {"basePkg",
       "{ registration \"1 3 6 1 4 1 32473 9 4 1\", label \"basePkg\", behavior { \"pkgBehaviour\" }, attributes { "
       "{ label \"counter\", propertyList { replaceWithDefault TRUE, defaultValue valueReference : \"zero\", "
       "initialValue derivationRule : \"initRule\", permittedValues \"Range\", requiredValues \"Range\", getReplace "
       "getReplace, addRemove addRemove }, parameters { \"p1\" } }, { label \"state\", propertyList { getReplace get "
       "} } }, attributeGroups { { label \"grp\", attributes { \"counter\", \"state\" } } }, actions { { label "
       "\"reset\", parameters { \"p1\" } } }, notifications { { label \"alarm\", parameters { \"p1\", \"p2\" } } } }"},
      {"p1",
       "{ registration \"1 3 6 1 4 1 32473 9 5 1\", label \"p1\", context keyword : { type \"Range\", field "
       "\"field\" }, syntaxOrAttribute withSyntax : \"Range\", behavior { \"pkgBehaviour\" } }"},
      {"p2", "{ label \"p2\", context eventInfo : NULL, syntaxOrAttribute attribute : \"counter\" }"},
      {"nb",
       "{ registration \"1 3 6 1 4 1 32473 9 6 1\", label \"nb\", subordinate { label \"top\", andSubclasses TRUE }, "
       "superior { label \"top\" }, withAttribute \"state\", behavior { \"pkgBehaviour\" }, create { "
       "withReferenceObject TRUE, withAutomaticInstanceNaming TRUE, parameters { \"p1\" } }, delete { modifier "
       "deletesContainedObjects, parameters { \"p1\" } } }"},
      {"counter",
       "{ registration \"1 3 6 1 4 1 32473 9 7 1\", label \"counter\", derivedOrSyntax syntax : \"Range\", "
       "matchesFor { equality TRUE, ordering TRUE, substrings TRUE, setComparison TRUE, setIntersection TRUE }, "
       "behavior { \"pkgBehaviour\" }, parameters { \"p1\" } }"},
      // DERIVED FROM takes the root attribute's syntax.
      {"state", "{ registration \"1 3 6 1 4 1 32473 9 7 2\", label \"state\", derivedOrSyntax syntax : \"Range\" }"},
      {"grp",
       "{ registration \"1 3 6 1 4 1 32473 9 8 1\", label \"grp\", groupElements { \"counter\", \"state\" }, fixed "
       "TRUE, description \"text ... suppressed\" }"},
      {"initRule", "{ label \"initRule\", definedAs \"text ... suppressed\" }"},
      // The action's AND ATTRIBUTE IDS has no place: dropped and counted.
      {"reset",
       "{ registration \"1 3 6 1 4 1 32473 9 9 1\", label \"reset\", behavior { \"pkgBehaviour\" }, confirmed TRUE, "
       "parameters { \"p1\" }, informationSyntax \"Range\", replySyntax \"Range\" }"},
      {"alarm",
       "{ registration \"1 3 6 1 4 1 32473 9 10 1\", label \"alarm\", behavior { \"pkgBehaviour\" }, parameters { "
       "\"p1\" }, information { syntax \"Range\", andAttributeIds { { field \"value\", attribute \"counter\" }, { "
       "field \"other\", attribute \"state\" } } }, replySyntax \"Range\" }"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(value_of(row.label), row.value);
  }
}

// The text of a behaviour's DEFINED AS.
std::string defined_as(TUL_Metadata* md, const char* label) {
  TUL_Object* v = TUL_templateByName(md, label);
  const char* text = v ? TUL_read_str(TUL_assoc(v, "definedAs")) : nullptr;
  return text ? text : "(none)";
}

TEST_F(GdmoTest, EachDelimiterDoubledAndUndelimitedText) {
  const std::string delimiters = "!\"#$%^&*'`~?@\\";
  std::string text;
  for (std::size_t k = 0; k < delimiters.size(); ++k) {
    const char d = delimiters[k];
    text += "b" + std::to_string(k) + " BEHAVIOUR DEFINED AS " + d + "a " + d + d + " b; -- c" + d + ";\n";
  }
  text += "plain BEHAVIOUR\n  DEFINED AS  runs to the semicolon , here  ;\n";
  import({text});
  for (std::size_t k = 0; k < delimiters.size(); ++k) {
    SCOPED_TRACE(delimiters[k]);
    EXPECT_EQ(defined_as(md, ("b" + std::to_string(k)).c_str()), std::string("a ") + delimiters[k] + " b; -- c");
  }
  EXPECT_EQ(defined_as(md, "plain"), "runs to the semicolon , here");
}

TEST_F(GdmoTest, InlineTemplatesAreHoistedWithTheirRegistrations) {
  import({R"GDMO(
holder MANAGED OBJECT CLASS
  CHARACTERIZED BY inPkg PACKAGE
      BEHAVIOUR inBehaviour BEHAVIOUR DEFINED AS "inline";;
      ATTRIBUTES inAttribute ATTRIBUTE WITH ATTRIBUTE SYNTAX Mod.Type; REGISTERED AS {1 3 9 7 1};
                   GET;
      NOTIFICATIONS inNotification NOTIFICATION WITH INFORMATION SYNTAX Info; REGISTERED AS {1 3 9 10 1};;
    REGISTERED AS {1 3 9 4 1};;
  CONDITIONAL PACKAGES optional PACKAGE ACTIONS inAction ACTION MODE CONFIRMED; REGISTERED AS {1 3 9 9 1};;;
      PRESENT IF "wanted";
REGISTERED AS {1 3 9 3 1};
)GDMO"});
  const struct {
    const char* label;
    const char* part;
  } rows[] = {
      {"holder", "characterizedBy { \"inPkg\" }, conditional { { label \"optional\""},
      {"inPkg", "registration \"1 3 9 4 1\", label \"inPkg\", behavior { \"inBehaviour\" }"},
      {"inBehaviour", "label \"inBehaviour\""},
      {"inAttribute", "registration \"1 3 9 7 1\", label \"inAttribute\", derivedOrSyntax syntax : \"Type\""},
      {"inNotification", "registration \"1 3 9 10 1\""},
      {"optional", "actions { { label \"inAction\" } }"},
      {"inAction", "registration \"1 3 9 9 1\", label \"inAction\", confirmed TRUE"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_NE(value_of(row.label).find(row.part), std::string::npos) << value_of(row.label);
  }
}

TEST_F(GdmoTest, DamagedTemplatesAreReportedAndTheRestImports) {
  const std::string good = "\ngood ATTRIBUTE WITH ATTRIBUTE SYNTAX T; REGISTERED AS {1 3 9 1};\n";
  const struct {
    const char* name;
    const char* text;
    const char* message;  // "line [item] message" part
  } rows[] = {
      {"unmatched delimiter", "bad BEHAVIOUR DEFINED AS !never closed;", "1 [bad] text delimiter '!' is never closed"},
      {"mandatory clause missing", "bad ATTRIBUTE REGISTERED AS {1 3 9 2};",
       "1 [bad] ATTRIBUTE bad has no WITH ATTRIBUTE SYNTAX clause"},
      {"registration missing", "bad NOTIFICATION WITH INFORMATION SYNTAX T;;", "1 [bad] NOTIFICATION bad has no REGISTERED AS"},
      {"unknown keyword", "bad ATTRIBUTE WITH ATTRIBUTE SYNTAX T;\n COLOUR blue; REGISTERED AS {1 3 9 2};",
       "2 [bad] unknown keyword 'COLOUR' in ATTRIBUTE bad"},
      {"unknown template keyword", "bad MANAGED OBJECT CLAS REGISTERED AS {1 3 9 2};",
       "1 [bad] no template keyword after 'bad'"},
      {"label never defined", "bad ATTRIBUTE WITH ATTRIBUTE SYNTAX T; BEHAVIOUR\n nowhere; REGISTERED AS {1 3 9 2};",
       "2 [bad] label nowhere is used but not defined"},
      {"value never defined", "bad ATTRIBUTE WITH ATTRIBUTE SYNTAX T; REGISTERED AS {smiAttributeID 9};",
       "1 [bad] REGISTERED AS of bad: value smiAttributeID is not defined"},
      {"invalid object identifier", "bad ATTRIBUTE WITH ATTRIBUTE SYNTAX T; REGISTERED AS {7 1};",
       "1 [bad] REGISTERED AS of bad: registration {7 1} is no valid object identifier"},
      {"qualifier never closed", "bad ATTRIBUTE DERIVED FROM \"Rec. X.721:good;",
       "1 [bad] document qualifier is not closed on its line"},
      {"root of a derivation nowhere", "bad ATTRIBUTE DERIVED FROM lost; REGISTERED AS {1 3 9 2};",
       "1 [bad] no syntax found for bad along DERIVED FROM lost"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TUL_free_Metadata(md);
    md = TUL_new_Metadata();
    const std::vector<std::string> messages = import({std::string(row.text) + good});
    EXPECT_TRUE(mentions(messages, row.message)) << ::testing::PrintToString(messages);
    EXPECT_NE(value_of("good"), "(none)");
  }
}

// An alarm notification and its attributes in GDMO, their types and the
// event report in ASN.1: the report's information decodes through the
// notification's syntax and spreads into the attributes.
TEST_F(GdmoTest, EventReportTranslatesThroughImportedTemplates) {
  const char* types = R"ASN1(
Alarm-ASN1Module DEFINITIONS IMPLICIT TAGS ::= BEGIN
smi2AttributeID OBJECT IDENTIFIER ::= {joint-iso-itu-t ms(9) smi(3) part2(2) attribute(7)}
smi2Notification OBJECT IDENTIFIER ::= {joint-iso-itu-t ms(9) smi(3) part2(2) notification(10)}
AlarmInfo ::= SEQUENCE {
  probableCause [0] ProbableCause,
  perceivedSeverity [1] PerceivedSeverity,
  additionalText [2] AdditionalText OPTIONAL }
ProbableCause ::= INTEGER
PerceivedSeverity ::= ENUMERATED { indeterminate(0), critical(1), major(2), minor(3) }
AdditionalText ::= GraphicString
ObjectClass ::= CHOICE { globalForm [0] OBJECT IDENTIFIER, localForm [1] INTEGER }
EventTypeId ::= OBJECT IDENTIFIER
EventReportArgument ::= SEQUENCE {
  managedObjectClass ObjectClass,
  managedObjectInstance OCTET STRING,
  eventTime [5] GeneralizedTime OPTIONAL,
  eventType EventTypeId,
  eventInfo [8] ANY DEFINED BY eventType OPTIONAL }
AttributeId ::= OBJECT IDENTIFIER
Attribute ::= SEQUENCE { attributeId AttributeId, attributeValue ANY DEFINED BY attributeId }
AttributeList ::= SET OF Attribute
END
)ASN1";
  const char* templates = R"GDMO(
probableCause ATTRIBUTE WITH ATTRIBUTE SYNTAX Alarm-ASN1Module.ProbableCause;
  REGISTERED AS {smi2AttributeID 18};
perceivedSeverity ATTRIBUTE WITH ATTRIBUTE SYNTAX Alarm-ASN1Module.PerceivedSeverity;
  REGISTERED AS {smi2AttributeID 17};
additionalText ATTRIBUTE WITH ATTRIBUTE SYNTAX Alarm-ASN1Module.AdditionalText;
  REGISTERED AS {smi2AttributeID 7};
communicationsAlarm NOTIFICATION
  BEHAVIOUR communicationsAlarmBehaviour BEHAVIOUR DEFINED AS "raised on a communications failure";;
  WITH INFORMATION SYNTAX Alarm-ASN1Module.AlarmInfo
    AND ATTRIBUTE IDS probableCause probableCause, perceivedSeverity perceivedSeverity,
                      additionalText additionalText;
REGISTERED AS {smi2Notification 2};
)GDMO";
  EXPECT_EQ(import({types, templates}), std::vector<std::string>{});
  Value ber(encode_text(md,
                        "EventReportArgument { managedObjectClass globalForm : { 2 9 3 2 3 13 },"
                        " managedObjectInstance '01'H, eventType { 2 9 3 2 10 2 },"
                        " eventInfo AlarmInfo { probableCause 15, perceivedSeverity major, additionalText \"down\" } }"));
  ASSERT_TRUE(ok(ber)) << text_of(ber.get());
  Value list(TUL_translate(const_cast<char*>("EventReportArgument"), ber.get(), md));
  ASSERT_TRUE(ok(list));
  std::string spread;
  for (long i = 0; i < TUL_size(list.get()); ++i) {
    TUL_Object* attribute = TUL_at(list.get(), i);
    char* value = TUL_print2str(TUL_assoc(attribute, "attributeValue"));
    spread += std::string(TUL_oid2string(TUL_assoc(attribute, "attributeId"))) + "=" + squeeze(value ? value : "") + "\n";
    std::free(value);
  }
  EXPECT_NE(spread.find("2 9 3 2 7 18=ProbableCause 15\n2 9 3 2 7 17=PerceivedSeverity major\n"
                        "2 9 3 2 7 7=AdditionalText \"down\"\n"),
            std::string::npos)
      << spread;
}
constexpr const char* kSnmpv2Mib = R"MIB(
SNMPv2-MIB DEFINITIONS ::= BEGIN
IMPORTS MODULE-IDENTITY, OBJECT-TYPE, NOTIFICATION-TYPE, TimeTicks, mib-2, snmpModules FROM SNMPv2-SMI
        DisplayString FROM SNMPv2-TC
        MODULE-COMPLIANCE, OBJECT-GROUP, NOTIFICATION-GROUP FROM SNMPv2-CONF;
snmpMIB MODULE-IDENTITY
    LAST-UPDATED "200210160000Z" ORGANIZATION "tul" CONTACT-INFO "nobody"
    DESCRIPTION "A part of the MIB of SNMP entities, written for the tests."
    REVISION "200210160000Z" DESCRIPTION "The only one."
    ::= { snmpModules 1 }
snmpMIBObjects OBJECT IDENTIFIER ::= { snmpMIB 1 }
system OBJECT IDENTIFIER ::= { mib-2 1 }
sysDescr OBJECT-TYPE SYNTAX DisplayString (SIZE (0..255)) MAX-ACCESS read-only STATUS current
    DESCRIPTION "A ""textual"" description." ::= { system 1 }
sysUpTime OBJECT-TYPE SYNTAX TimeTicks MAX-ACCESS read-only STATUS current DESCRIPTION "" ::= { system 3 }
snmpTrap OBJECT IDENTIFIER ::= { snmpMIBObjects 4 }
snmpTrapOID OBJECT-TYPE SYNTAX OBJECT IDENTIFIER MAX-ACCESS accessible-for-notify STATUS current
    DESCRIPTION "The notification." ::= { snmpTrap 1 }
snmpTraps OBJECT IDENTIFIER ::= { snmpMIBObjects 5 }
coldStart NOTIFICATION-TYPE STATUS current DESCRIPTION "Restarted." ::= { snmpTraps 1 }
systemGroup OBJECT-GROUP OBJECTS { sysDescr, sysUpTime } STATUS current DESCRIPTION "g" ::= { snmpMIBObjects 6 }
snmpBasicNotificationsGroup NOTIFICATION-GROUP NOTIFICATIONS { coldStart } STATUS current DESCRIPTION "n"
    ::= { snmpMIBObjects 7 }
snmpBasicCompliance MODULE-COMPLIANCE STATUS current DESCRIPTION "m"
    MODULE -- this module
        MANDATORY-GROUPS { systemGroup }
        OBJECT sysDescr SYNTAX OCTET STRING (SIZE (0..64)) DESCRIPTION "shorter"
    ::= { snmpMIBObjects 8 }
END
)MIB";

constexpr const char* kIfMib = R"MIB(
IF-MIB DEFINITIONS ::= BEGIN
IMPORTS MODULE-IDENTITY, OBJECT-TYPE, NOTIFICATION-TYPE, Integer32, Gauge32, mib-2 FROM SNMPv2-SMI
        TEXTUAL-CONVENTION FROM SNMPv2-TC
        snmpTraps FROM SNMPv2-MIB;
ifMIB MODULE-IDENTITY LAST-UPDATED "200006140000Z" ORGANIZATION "tul" CONTACT-INFO "nobody"
    DESCRIPTION "Interfaces, written for the tests." ::= { mib-2 31 }
InterfaceIndex ::= TEXTUAL-CONVENTION DISPLAY-HINT "d" STATUS current DESCRIPTION "An index."
    SYNTAX Integer32 (1..2147483647)
interfaces OBJECT IDENTIFIER ::= { mib-2 2 }
ifNumber OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-only STATUS current DESCRIPTION "n" ::= { interfaces 1 }
ifTable OBJECT-TYPE SYNTAX SEQUENCE OF IfEntry MAX-ACCESS not-accessible STATUS current DESCRIPTION "t"
    ::= { interfaces 2 }
ifEntry OBJECT-TYPE SYNTAX IfEntry MAX-ACCESS not-accessible STATUS current DESCRIPTION "e" INDEX { ifIndex }
    ::= { ifTable 1 }
IfEntry ::= SEQUENCE { ifIndex InterfaceIndex, ifAdminStatus INTEGER, ifSpeed Gauge32 }
ifIndex OBJECT-TYPE SYNTAX InterfaceIndex MAX-ACCESS read-only STATUS current DESCRIPTION "i" ::= { ifEntry 1 }
ifAdminStatus OBJECT-TYPE SYNTAX INTEGER { up(1), down(2), testing(3) } MAX-ACCESS read-write STATUS current
    DESCRIPTION "a" DEFVAL { up } ::= { ifEntry 7 }
ifSpeed OBJECT-TYPE SYNTAX Gauge32 UNITS "bits per second" MAX-ACCESS read-only STATUS current DESCRIPTION "s"
    ::= { ifEntry 5 }
linkDown NOTIFICATION-TYPE OBJECTS { ifIndex, ifAdminStatus } STATUS current DESCRIPTION "l" ::= { snmpTraps 3 }
END

TEST-TRAP-MIB DEFINITIONS ::= BEGIN
IMPORTS enterprises FROM RFC1155-SMI TRAP-TYPE FROM RFC-1215;
testAgent OBJECT IDENTIFIER ::= { enterprises 32473 1 }
testTrap TRAP-TYPE ENTERPRISE testAgent VARIABLES { ifIndex } DESCRIPTION "SMIv1" ::= 7
END

Test-PDU DEFINITIONS ::= BEGIN
VarBind ::= SEQUENCE { name OBJECT IDENTIFIER, value ANY DEFINED BY name }
VarBindList ::= SEQUENCE OF VarBind
END
)MIB";

// Bindings name their objects: decoding takes each value's syntax from the
// MIB, and under the label option the names and identifier values print as
// the MIB's labels.
TEST_F(GdmoTest, MibBatchGivesSyntaxesAndLabels) {
  const std::vector<std::string> messages = import({kSnmpv2Mib, kIfMib}, ".mib");
  EXPECT_EQ(messages, std::vector<std::string>{});
  EXPECT_EQ(entered, 21);
  const struct {
    const char* label;
    const char* value;
  } rows[] = {
      {"sysUpTime.0", "{ registration \"1 3 6 1 2 1 1 3 0\", label \"sysUpTime.0\", derivedOrSyntax syntax : \"TimeTicks\" }"},
      {"ifAdminStatus",
       "{ registration \"1 3 6 1 2 1 2 2 1 7\", label \"ifAdminStatus\", derivedOrSyntax syntax : \"IF-MIB.ifAdminStatus\" }"},
      {"ifAdminStatus.0", "(none)"},  // a column has no single instance
      {"testTrap", "{ registration \"1 3 6 1 4 1 32473 1 0 7\", label \"testTrap\" }"},
      {"systemGroup",
       "{ registration \"1 3 6 1 6 3 1 1 6\", label \"systemGroup\", groupElements { \"sysDescr\", \"sysUpTime\" } }"},
      {"snmpBasicCompliance", "{ registration \"1 3 6 1 6 3 1 1 8\", label \"snmpBasicCompliance\" }"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(value_of(row.label), row.value);
  }
  Value ber(encode_text(md,
                        "VarBindList { { name { 1 3 6 1 2 1 1 3 0 }, value TimeTicks 12345 },"
                        " { name { 1 3 6 1 6 3 1 1 4 1 0 }, value OBJECT IDENTIFIER { 1 3 6 1 6 3 1 1 5 3 } },"
                        " { name { 1 3 6 1 2 1 2 2 1 7 }, value INTEGER 2 } }"));
  ASSERT_TRUE(ok(ber)) << text_of(ber.get());
  Value bindings(TUL_decode("VarBindList", ber.get(), md));
  ASSERT_TRUE(ok(bindings)) << text_of(bindings.get());
  TUL_set_option(TUL_OPTION_OID_AS_LABEL, 1);
  TUL_set_option(TUL_OPTION_OID_ANNOTATED, 0);
  const std::string printed = squeeze(value_text(bindings));
  TUL_set_option(TUL_OPTION_OID_AS_LABEL, 0);
  TUL_set_option(TUL_OPTION_OID_ANNOTATED, 1);
  EXPECT_EQ(printed,
            "{ { name sysUpTime.0, value TimeTicks 12345 }, { name snmpTrapOID.0, value OBJECT IDENTIFIER linkDown }, "
            "{ name ifAdminStatus, value IF-MIB.ifAdminStatus down } }");
}

// The MIBs a Debian system installs: whatever they use that this library
// cannot hold gives diagnostics, never a crash, and most objects enter.
TEST_F(GdmoTest, InstalledMibsImport) {
  const std::string dir = "/usr/share/snmp/mibs";
  DIR* d = opendir(dir.c_str());
  if (!d) GTEST_SKIP() << dir << " is absent (Debian package libsnmp-base)";
  std::vector<std::string> paths;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') paths.push_back(dir + "/" + e->d_name);
  closedir(d);
  std::vector<const char*> names;
  for (const std::string& p : paths) names.push_back(p.c_str());
  TUL_ImportResult* r = TUL_import_files(md, names.data(), static_cast<int>(names.size()), 0);
  ASSERT_NE(r, nullptr);
  int templates = 0;
  for (int n : r->templates_entered) templates += n;
  std::printf("%zu MIB files: %d types, %d templates (%d attributes, %d notifications), %d errors, %d warnings\n",
              paths.size(), r->types_entered, templates, r->templates_entered[TUL_ENTRY_ATTRIBUTE - 1],
              r->templates_entered[TUL_ENTRY_NOTIFICATION - 1], r->errors, r->warnings);
  EXPECT_GE(templates, static_cast<int>(paths.size()) * 10);
  TUL_free_import_result(r);
}

}  // namespace
}  // namespace tul::test
