// Tests of the HTML pages: exact page texts for small dictionaries, every
// template kind and the overview counts; the value page with its markers and
// the print behaviours put back; the process exit on file errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "dict.h"
#include "support/dictionary_test.h"
#include "support/files.h"
#include "support/type_builder.h"
#include "support/value.h"

namespace tul::test {
namespace {

namespace fs = std::filesystem;

const std::string kClose =
    "\n<p><hr><p>\n<address>generated with the HTML generation feature of the TUL library V.1.0 "
    "(98/02/28)</address>\n";
const std::string kBack = "<p>Back to <a href=\"overview.html\">overview</a>\n<p>\n";

// A whole dictionary page: title, back link, blocks, footer.
std::string page_text(const std::string& title, const std::string& body) {
  return "<TITLE>" + title + "</TITLE>\n<center><h2>" + title + "</h2></center>\n" + kBack + body + kClose;
}

// The type page's block of `type`, from its opening rule to its end.
std::string type_block(const std::string& page, const std::string& type) {
  const std::size_t anchor = page.find("<a name=\"" + type + "\">");
  if (anchor == std::string::npos) return "<no block>";
  const std::size_t start = page.rfind("\n<p><hr><p><pre>\n", anchor);
  const std::size_t end = page.find("</pre>\n", anchor);
  return page.substr(start, end + 7 - start);
}

class BrowseTest : public DictionaryTest {
 protected:
  void generate() { ASSERT_EQ(TUL_generate_HTML(md, dir_.c_str()), 0); }
  std::string page(const std::string& file) const { return slurp(fs::path(dir_) / file); }
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
    return names;
  }

  TempDir temp_;
  fs::path root_ = temp_.path();
  std::string dir_ = (root_ / "pages").string();
};

const std::set<std::string> kDictionaryFiles = {
    "overview.html", "asn1types.html", "notifications.html", "attributes.html",      "parameters.html",
    "actions.html",  "mocs.html",      "packages.html",      "namebindings.html",    "attributegroups.html",
    "behaviors.html", "reddot.gif"};

struct TemplatePageRow {
  const char* file;
  const char* title;
  const char* sentence;  // of the empty page
};
constexpr TemplatePageRow kTemplatePages[] = {
    {"notifications.html", "Notification Templates", "Notification Templates"},
    {"attributes.html", "Attribute Templates", "Attribute Templates"},
    {"parameters.html", "Parameter Templates", "Parameter Templates"},
    {"actions.html", "Action Templates", "Action Templates"},
    {"mocs.html", "MOC Templates", " Managed Object Class Templates"},  // two blanks after "any"
    {"packages.html", "Package Templates", "Package Templates"},
    {"namebindings.html", "Name Binding Templates", " Name Binding Templates"},
    {"attributegroups.html", "Attribute Group Templates", "Attribute Group Templates"},
    {"behaviors.html", "Behavior Templates", "Behavior Templates"},
};

std::string overview(const std::vector<int>& counts) {
  static constexpr const char* kRows[][2] = {
      {"asn1types.html", "ASN.1 types"},        {"attributes.html", "ATTRIBUTE's"},
      {"notifications.html", "NOTIFICATION's"}, {"parameters.html", "PARAMETER's"},
      {"actions.html", "ACTION's"},             {"mocs.html", "MANAGED OBJECT CLASS's"},
      {"packages.html", "PACKAGE's"},           {"namebindings.html", "NAME BINDING's"},
      {"attributegroups.html", "ATTRIBUTE GROUP's"}, {"behaviors.html", "BEHAVIOUR's"}};
  std::string text =
      "<TITLE>MIB Definition related Overview file</TITLE>\n"
      "<center><h2>MIB Definition related Overview file</h2></center>\n"
      "The term MIB is used here as synonym of all available ASN.1 type definitions and GDMO templates. "
      "Your MIB contains the following information.\n"
      "<ul><table border=1 cellpadding=6 bgcolor=\"#FFFFFF\">\n"
      "<tr><th># of entries</th><th>definition/template name</th></tr>\n";
  for (std::size_t i = 0; i < std::size(kRows); ++i)
    text += "<tr align=center><td>" + std::to_string(counts[i]) + "</td><td><a href=\"" + kRows[i][0] + "\">" +
            kRows[i][1] + "</a></td></tr>\n";
  return text + "</table></ul>\n" + kClose;
}

// Names of the anchors of a page, in page order.
std::vector<std::string> anchors(const std::string& page) {
  std::vector<std::string> found;
  const std::string opening = " name=\"";
  for (std::size_t at = page.find(opening); at != std::string::npos; at = page.find(opening, at + 1)) {
    const std::size_t start = at + opening.size();
    found.push_back(page.substr(start, page.find('"', start) - start));
  }
  return found;
}

void collect_described(TUL_Entry* entry, void* data) {
  auto* e = reinterpret_cast<TUL_Asn1TypeEntry*>(entry);
  if (e->type) static_cast<std::vector<std::string>*>(data)->push_back(e->name);
}

// ---- dictionary pages ----

TEST_F(BrowseTest, NewDictionaryGivesElevenPagesSortedTypesAndEmptyTemplatePages) {
  fs::create_directories(dir_);
  std::ofstream(fs::path(dir_) / "notes.txt") << "mine";  // left alone
  std::ofstream(fs::path(dir_) / "overview.html") << "old";
  generate();
  std::set<std::string> expected = kDictionaryFiles;
  expected.insert("notes.txt");
  EXPECT_EQ(files(), expected);
  EXPECT_EQ(page("overview.html"), overview({TUL_number_asn1_def(md), 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  for (const TemplatePageRow& row : kTemplatePages) {
    SCOPED_TRACE(row.file);
    EXPECT_EQ(page(row.file),
              page_text(row.title, std::string("Your MIB doesn't contain any ") + row.sentence + "!\n"));
  }
  std::vector<std::string> described;
  _TUL_for_each_asn1_def(md, collect_described, &described);
  std::sort(described.begin(), described.end(),
            [](auto& a, auto& b) { return std::strcmp(a.c_str(), b.c_str()) < 0; });
  const std::vector<std::string> shown = anchors(page("asn1types.html"));
  EXPECT_EQ(shown, described);  // only types with a base type, byte-wise order
  for (const char* type : {"EXTERNAL", "ObjectDescriptor", "TUL.Asn1"})
    EXPECT_NE(std::find(shown.begin(), shown.end(), type), shown.end()) << type;
}

TEST_F(BrowseTest, MarkerImageIsTheFixedFourteenPixelSquareGif) {
  generate();
  const std::string gif = page("reddot.gif");
  ASSERT_EQ(gif.size(), 106u);
  EXPECT_EQ(gif.substr(0, 6), "GIF87a");
  EXPECT_EQ(gif.substr(6, 4), std::string("\x0E\x00\x0E\x00", 4));  // 14 x 14, little-endian
  EXPECT_EQ(static_cast<unsigned char>(gif[10]) & 0x87, 0x82);  // a global table of 8 colours
  EXPECT_EQ(gif.back(), ';');
}

TEST_F(BrowseTest, TypeBlocks) {
  define_type(md, "T", "SEQUENCE",
              {{"a", "INTEGER"}, {"b", "OCTET STRING", TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, 0, TUL_OPTIONAL}});
  define_type(md, "L", "SEQUENCE OF", {{nullptr, "T"}});
  define_type(md, "Open", "SET",
              {{"id", "Nowhere", TUL_TAG_PRIVATE, 2, TUL_DEFAULT}, {"v", "ANY DEFINED BY", 0, 0, 0, "id"}});
  define_type(md, "App1", "INTEGER", {}, TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT, 1);
  define_type(md, "Ctx3", "App1", {}, TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 3);
  define_type(md, "Univ", "Pick", {}, TUL_TAG_UNIVERSAL | TUL_TAG_EXPLICIT, 30);
  define_type(md, "Pick", "CHOICE", {{"t", "T"}});
  enter("TUL.Asn1 { name 'Colour', type 'ENUMERATED', "
        "enums { { label 'red', value 0 }, { label 'green', value 1 } } }");
  enter("TUL.Asn1 { name 'Status', type 'SEQUENCE', fields { { name 's', type 'INTEGER', "
        "enums { { label 'ok', value 0 } } } } }");
  generate();
  const std::string types = page("asn1types.html");
  const std::string open = "\n<p><hr><p><pre>\n";
  const struct {
    const char* type;
    std::string block;
  } rows[] = {
      {"T", open + "<a name=\"T\"><b>T</b></a> ::= <b>SEQUENCE</b> <b>{</b>\n    a  <b>INTEGER</b>  \n"
                   "    b <b>[0] IMPLICIT </b> <b>OCTET STRING</b>  <b>OPTIONAL</b>\n<b>}</b></pre>\n"},
      // the element of a list has no name, and the list no braces
      {"L", open + "<a name=\"L\"><b>L</b></a> ::= <b>SEQUENCE OF</b>  <a href=\"#T\">T</a>  </pre>\n"},
      // an unknown member type stays plain text; the identifying member follows the open type
      {"Open", open + "<a name=\"Open\"><b>Open</b></a> ::= <b>SET</b> <b>{</b>\n"
                      "    id <b>[PRIVATE 2]</b> Nowhere  <b>DEFAULT</b>\n"
                      "    v  <b>ANY DEFINED BY</b> id \n<b>}</b></pre>\n"},
      {"App1", open + "<a name=\"App1\"><b>App1</b></a> ::= <b>[APPLICATION 1] IMPLICIT </b><b>INTEGER</b></pre>\n"},
      // explicit tags are not marked; a defined base type is a link
      {"Ctx3", open + "<a name=\"Ctx3\"><b>Ctx3</b></a> ::= <b>[3]</b><a href=\"#App1\">App1</a></pre>\n"},
      // a CHOICE only by derivation gets no braces
      {"Univ", open + "<a name=\"Univ\"><b>Univ</b></a> ::= <b>[UNIVERSAL 30]</b><a href=\"#Pick\">Pick</a></pre>\n"},
      {"Colour", open + "<a name=\"Colour\"><b>Colour</b></a> ::= <b>ENUMERATED</b> <b>{</b>\n    red (0)\n"
                        "    green (1)\n<b>}</b> </pre>\n"},
      {"Status", open + "<a name=\"Status\"><b>Status</b></a> ::= <b>SEQUENCE</b> <b>{</b>\n"
                        "    s  <b>INTEGER</b>  <b>{</b>\n        ok (0)\n    <b>}</b>  \n<b>}</b></pre>\n"},
  };
  for (const auto& row : rows) EXPECT_EQ(type_block(types, row.type), row.block) << row.type;
}

// One template of each kind; every page holds its block and nothing else,
// and the overview counts them.
TEST_F(BrowseTest, TemplatePagesOfEveryKind) {
  const struct {
    const char* definition;
    const char* file;
    const char* title;
    const char* block;
  } rows[] = {
      {"TUL.Notification { registration '2 9 1', label 'alarm', information { syntax 'AlarmInfo', "
       "andAttributeIds { { field 'sev', attribute 'severity' }, { field 'at', attribute 'time' } } }, "
       "replySyntax 'AlarmReply' }",
       "notifications.html", "Notification Templates",
       "\n<p><hr><p><pre>\n<a name=\"alarm\">alarm </a><b>NOTIFICATION</b>\n"
       "  <b>WITH INFORMATION SYNTAX</b> <a href=\"asn1types.html#AlarmInfo\">AlarmInfo</a>;\n"
       "  <b>AND ATTRIBUTE IDS</b>\n"
       "     sev <a href=\"attributes.html#severity\">severity</a>\n"
       "     at <a href=\"attributes.html#time\">time</a>\n"
       "  <b>WITH REPLY SYNTAX</b> <a href=\"asn1types.html#AlarmReply\">AlarmReply</a>;\n"
       "<b>REGISTERED AS</b> {2 9 1};\n</pre>"},
      {"TUL.Attribute { registration '2 9 2', label 'severity', derivedOrSyntax syntax : 'INTEGER' }",
       "attributes.html", "Attribute Templates",
       "\n<p><hr><p><pre>\n<a name=\"severity\">severity </a><b>ATTRIBUTE</b>\n"
       "  <b>WITH ATTRIBUTE SYNTAX</b> <a href=\"asn1types.html#INTEGER\">INTEGER</a>;\n"
       "<b>REGISTERED AS</b> {2 9 2};\n</pre>"},
      {"TUL.Parameter { registration '2 9 3', label 'cause', syntaxOrAttribute withSyntax : 'Cause' }",
       "parameters.html", "Parameter Templates",
       "\n<p><hr><p><pre>\n<a name=\"cause\">cause </a><b>PARAMETER</b>\n"
       "  <b>WITH SYNTAX</b> <a href=\"asn1types.html#Cause\">Cause</a>;\n<b>REGISTERED AS</b> {2 9 3};\n</pre>"},
      {"TUL.Action { registration '2 9 4', label 'reset', informationSyntax 'ResetInfo', replySyntax 'ResetReply' }",
       "actions.html", "Action Templates",
       "\n<p><hr><p><pre>\n<a name=\"reset\">reset </a><b>ACTION</b>\n"
       "  <b>WITH INFORMATION SYNTAX</b> <a href=\"asn1types.html#ResetInfo\">ResetInfo</a>;\n"
       "  <b>WITH REPLY SYNTAX</b> <a href=\"asn1types.html#ResetReply\">ResetReply</a>;\n"
       "<b>REGISTERED AS</b> {2 9 4};\n</pre>"},
      {"TUL.MOC { registration '2 9 5', label 'agent' }", "mocs.html", "MOC Templates",
       "\n<p><hr><p><pre>\n<a name=\"agent\">agent </a><b>MANAGED OBJECT CLASS</b>\n"
       "<b>REGISTERED AS</b> {2 9 5};\n</pre>"},
      {"TUL.Package { registration '2 9 6', label 'basics' }", "packages.html", "Package Templates",
       "\n<p><hr><p><pre>\n<a name=\"basics\">basics </a><b>PACKAGE</b>\n<b>REGISTERED AS</b> {2 9 6};\n</pre>"},
      {"TUL.NameBinding { registration '2 9 7', label 'agent-system' }", "namebindings.html",
       "Name Binding Templates",
       "\n<p><hr><p><pre>\n<a name=\"agent-system\">agent-system </a><b>NAME BINDING</b>\n"
       "<b>REGISTERED AS</b> {2 9 7};\n</pre>"},
      {"TUL.AttributeGroup { registration '2 9 8', label 'state' }", "attributegroups.html",
       "Attribute Group Templates",
       "\n<p><hr><p><pre>\n<a name=\"state\">state </a><b>ATTRIBUTE GROUP</b>\n<b>REGISTERED AS</b> {2 9 8};\n</pre>"},
      {"TUL.Behavior { label 'resetBehaviour', definedAs \"Restarts the agent.\" }", "behaviors.html",
       "Behavior Templates",
       "\n<p><hr><p>\n<a name=\"resetBehaviour\">resetBehaviour </a><b>BEHAVIOUR</b>\n"
       "<ul><b>DEFINED AS</b> Restarts the agent.;</ul>\n"},
  };
  for (const auto& row : rows) enter(row.definition);
  generate();
  for (const auto& row : rows) EXPECT_EQ(page(row.file), page_text(row.title, row.block)) << row.file;
  EXPECT_EQ(page("overview.html"), overview({TUL_number_asn1_def(md), 1, 1, 1, 1, 1, 1, 1, 1, 1}));
}

TEST_F(BrowseTest, AbsentSyntaxesWriteNoLines) {
  enter("TUL.Notification { registration '2 9 1', label 'plain' }");
  enter("TUL.Action { registration '2 9 4', label 'poke' }");
  enter("TUL.MOC { registration '2 9 5', label 'a' }");
  enter("TUL.MOC { registration '2 9 6', label 'b' }");
  generate();
  EXPECT_EQ(page("notifications.html"),
            page_text("Notification Templates", "\n<p><hr><p><pre>\n<a name=\"plain\">plain </a><b>NOTIFICATION</b>\n"
                                                "  <b>AND ATTRIBUTE IDS</b>\n<b>REGISTERED AS</b> {2 9 1};\n</pre>"));
  EXPECT_EQ(page("actions.html"),
            page_text("Action Templates", "\n<p><hr><p><pre>\n<a name=\"poke\">poke </a><b>ACTION</b>\n"
                                          "<b>REGISTERED AS</b> {2 9 4};\n</pre>"));
  EXPECT_EQ(page("overview.html"), overview({TUL_number_asn1_def(md), 0, 1, 0, 1, 2, 0, 0, 0, 0}));
}

// Characters that would end a tag, a reference or an attribute value become
// references, so the page structure and the links survive such names.
TEST_F(BrowseTest, MarkupCharactersInNamesAndTextsBecomeReferences) {
  define_type(md, "A<b&\"c", "SEQUENCE", {{"x>y", "A<b&\"c", 0, 0, TUL_OPTIONAL}});
  enter("TUL.Attribute { registration '2 9 2', label 'a&b', derivedOrSyntax syntax : 'A<b&\"c' }");
  enter("TUL.Behavior { label '<b>', definedAs \"if a < b && \\\"c\\\" then d > e\" }");
  generate();
  EXPECT_EQ(type_block(page("asn1types.html"), "A&lt;b&amp;&quot;c"),
            "\n<p><hr><p><pre>\n<a name=\"A&lt;b&amp;&quot;c\"><b>A&lt;b&amp;&quot;c</b></a> ::= <b>SEQUENCE</b> "
            "<b>{</b>\n    x>y  <a href=\"#A&lt;b&amp;&quot;c\">A&lt;b&amp;&quot;c</a>  <b>OPTIONAL</b>\n"
            "<b>}</b></pre>\n");
  EXPECT_NE(page("attributes.html").find("<a name=\"a&amp;b\">a&amp;b </a><b>ATTRIBUTE</b>\n"
                                         "  <b>WITH ATTRIBUTE SYNTAX</b> <a href=\"asn1types.html#A&lt;b&amp;"
                                         "&quot;c\">A&lt;b&amp;&quot;c</a>;\n"),
            std::string::npos);
  EXPECT_NE(page("behaviors.html").find("<a name=\"&lt;b>\">&lt;b> </a><b>BEHAVIOUR</b>\n"
                                        "<ul><b>DEFINED AS</b> if a &lt; b &amp;&amp; \"c\" then d > e;</ul>\n"),
            std::string::npos);
}

TEST_F(BrowseTest, MissingArgumentsAreReportedAndWriteNothing) {
  StderrCapture err;
  EXPECT_EQ(TUL_generate_HTML(nullptr, dir_.c_str()), TUL_ERR_ARGUMENT);
  EXPECT_EQ(TUL_generate_HTML(md, nullptr), TUL_ERR_ARGUMENT);
  Value n(TUL_new("INTEGER", md, 5));
  EXPECT_EQ(TUL_print_HTML(nullptr, dir_.c_str()), 0);
  EXPECT_EQ(TUL_print_HTML(n.get(), nullptr), TUL_ERR_ARGUMENT);
  EXPECT_EQ(err.take(),
            "#21 invalid argument(s) in function 'TUL_generate_HTML'\n"
            "#21 invalid argument(s) in function 'TUL_generate_HTML'\n"
            "#21 invalid argument(s) in function 'TUL_print_HTML'\n");
  EXPECT_FALSE(fs::exists(dir_));
}

// The generator ends the process on file errors, with the message on stderr.
TEST_F(BrowseTest, FileErrorsEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string missing_parent = (root_ / "no" / "such").string();
  EXPECT_EXIT(TUL_generate_HTML(md, missing_parent.c_str()), testing::ExitedWithCode(1),
              "^TUL: no permission to create local directory\n$");
  const std::string plain_file = (root_ / "file").string();
  std::ofstream(plain_file) << "x";
  EXPECT_EXIT(TUL_generate_HTML(md, plain_file.c_str()), testing::ExitedWithCode(1),
              "^TUL: file open error \\(access rights \\?\\)\n$");
  fs::create_directories(fs::path(dir_) / "reddot.gif");
  EXPECT_EXIT(TUL_generate_HTML(md, dir_.c_str()), testing::ExitedWithCode(1),
              "^file open error for result files \\(access rights \\?\\)\n$");
}

// ---- value page ----

class ValuePageTest : public BrowseTest {
 protected:
  void SetUp() override {
    BrowseTest::SetUp();
    define_type(md, "Rec", "SEQUENCE",
                {{"id", "INTEGER"},
                 {"name", "IA5String"},
                 {"state", "Colour", TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, 1, TUL_OPTIONAL},
                 {"note", "IA5String", TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, 0, TUL_OPTIONAL}});
    define_type(md, "Colour", "ENUMERATED");
    define_type(md, "Carrier", "SEQUENCE",
                {{"kind", "OBJECT IDENTIFIER", 0, 0, TUL_OPTIONAL}, {"body", "ANY DEFINED BY", 0, 0, 0, "kind"}});
    define_type(md, "Pick", "CHOICE", {{"num", "INTEGER"}, {"rec", "Rec", TUL_TAG_CONTEXT | TUL_TAG_EXPLICIT, 0}});
    enter("TUL.Asn1 { name 'Status', type 'SEQUENCE', fields { { name 's', type 'INTEGER',"
          " enums { { label 'ok', value 0 } } } } }");
  }

  // Writes the value page of the typed value `text` and returns the page.
  std::string value_page(const char* text) {
    Value v(TUL_parse_str(md, text));
    EXPECT_TRUE(ok(v)) << text_of(v.get());
    if (!ok(v)) return "";
    StderrCapture err;  // an unencodable value traces its error
    EXPECT_EQ(TUL_print_HTML(v.get(), dir_.c_str()), 0);
    return page("value.html");
  }
  // The printed value of a value page.
  static std::string shown(const std::string& page) {
    const std::size_t start = page.find("\n<pre>\n"), end = page.find("\n</pre>\n");
    return start == std::string::npos || end == std::string::npos ? "<none>" : page.substr(start + 7, end - start - 7);
  }
};

TEST_F(ValuePageTest, EncodableValuePageAndTheFilesBesideIt) {
  setenv("HOME", "/home/op", 1);
  const std::string text = value_page("INTEGER 5");
  EXPECT_EQ(text,
            "<TITLE>ASN.1 value</TITLE>\n<center><h2>ASN.1 value</h2></center>\n"
            "<p><hr><h3>Encode/Decode Status:</h3><ul>\n"
            "<li>value is encodable (3 octets)\n"
            "<li>BER representation is decodable (<img src=\"reddot.gif\"> indicate problems or the subobject is "
            "left as BER string)\n"
            "</ul>\n<hr><p>\n"
            "\n<pre>\n<a href=\"asn1types.html#INTEGER\">INTEGER</a> 5\n</pre>\n"
            "<p><hr><p>\nOther information of interest\n<ul>\n<li><a href=\"overview.html\">MIB Overview</a>\n"
            "<li><a href=\"/home/op/doc/syntax.html\">ASN.1 Value Syntax</a>\n"
            "<li><a href=\"/home/op/doc/api.html\">TUL Library Functions</a>\n</ul>\n" +
                kClose);
  std::set<std::string> expected = kDictionaryFiles;
  expected.insert("value.html");
  EXPECT_EQ(files(), expected);
}

TEST_F(ValuePageTest, MembersLinkToTheirTypesAndMarkWhatIsMissing) {
  const struct {
    const char* name;
    const char* value;
    const char* status;  // the two status lines
    const char* shown;
  } rows[] = {
      {"a missing mandatory member is marked; an absent OPTIONAL one is left out",
       "Rec { id 7, note \"a<b & c\" }",
       "<li>value is <b>NOT</b> encodable\n<li>value is <b>NOT</b> decodable\n",
       "<a href=\"asn1types.html#Rec\">Rec</a> {\n    id 7,\n"
       "    <a href=\"asn1types.html#IA5String\">name</a> <img src=\"reddot.gif\">"
       "\"!!! object is not initialized yet !!!\",\n"
       "    <a href=\"asn1types.html#IA5String\">note</a> \"a&lt;b &amp; c\"\n}"},
      {"an open type whose identifying member is missing",
       "Carrier { body BER-String '0101FF'H }",
       "<li>value is encodable (5 octets)\n<li>BER representation is decodable",
       "<a href=\"asn1types.html#Carrier\">Carrier</a> {\n    body <img src=\"reddot.gif\"> -- checkout kind -- "
       "<a href=\"asn1types.html#BER-String\">BER-String</a> '0101FF'H\n}"},
      {"a CHOICE alternative of a defined type is linked",
       "Pick rec : { id 1, name \"x\", state 2 }", "<li>value is encodable (13 octets)\n",
       "<a href=\"asn1types.html#Pick\">Pick</a> <a href=\"asn1types.html#Rec\">rec</a> : {\n"
       "    id 1,\n    <a href=\"asn1types.html#IA5String\">name</a> \"x\",\n"
       "    <a href=\"asn1types.html#Colour\">state</a> 2\n}"},
      {"a CHOICE alternative of a basic type is not", "Pick num : 5", "<li>value is encodable (3 octets)\n",
       "<a href=\"asn1types.html#Pick\">Pick</a> num : 5"},
      {"a member's own named numbers", "Status { s ok }", "<li>value is encodable (5 octets)\n",
       "<a href=\"asn1types.html#Status\">Status</a> {\n    s ok\n}"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string text = value_page(row.value);
    EXPECT_NE(text.find(row.status), std::string::npos) << text;
    EXPECT_EQ(shown(text), row.shown);
  }
}

// The page's print behaviours are registered only while it is written:
// whichever allocation fails, what the dictionary had before is back
// afterwards, an application's own behaviour included.
TEST_F(ValuePageTest, PrintBehavioursArePutBackWhateverFails) {
  Value pick(TUL_parse_str(md, "Pick rec : { id 1, name \"x\" }"));
  const std::string plain = printed(pick.get());
  auto custom = +[](TUL_Object*, TULP_PrintContext* ctx) { ctx->prints("custom", ctx->ptr); };
  void* sequence_print = TUL_register(md, "SEQUENCE", "print", reinterpret_cast<void*>(custom));
  const void* before[] = {TUL_retrieve_action(md, "SEQUENCE", "print"), TUL_retrieve_action(md, "SET", "print"),
                          TUL_retrieve_action(md, "CHOICE", "print")};
  StderrCapture err;
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    bool fired;
    {
      FailNthAllocation failure(n);
      EXPECT_EQ(TUL_print_HTML(pick.get(), dir_.c_str()), 0);
      fired = failure.fired();
    }
    EXPECT_EQ(TUL_retrieve_action(md, "SEQUENCE", "print"), before[0]);
    EXPECT_EQ(TUL_retrieve_action(md, "SET", "print"), before[1]);
    EXPECT_EQ(TUL_retrieve_action(md, "CHOICE", "print"), before[2]);
    if (!fired) break;
  }
  TUL_register(md, "SEQUENCE", "print", sequence_print);
  EXPECT_EQ(printed(pick.get()), plain);
}

}  // namespace
}  // namespace tul::test
