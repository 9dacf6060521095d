// Persistence files, the listing and reference check, and the source
// generator: round trips through each, the exact texts they write, and the
// damaged files the readers must reject without harm.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dict.h"
#include "support/dictionary_test.h"
#include "support/files.h"
#include "support/type_builder.h"

namespace {

using namespace tul::test;

// Every definition of a dictionary in its described form, sorted: two
// dictionaries with the same definitions give the same list.
std::vector<std::string> described(TUL_Metadata* md) {
  std::vector<std::string> out;
  auto add = [](TUL_Object* v, void* data) {
    char* text = TUL_print2str(v);
    static_cast<std::vector<std::string>*>(data)->push_back(text ? text : "");
    free(text);
  };
  for (auto walk : {TUL_for_each_asn1_def, TUL_for_each_attribute, TUL_for_each_notification, TUL_for_each_parameter,
                    TUL_for_each_action, TUL_for_each_moc, TUL_for_each_package, TUL_for_each_name_binding,
                    TUL_for_each_attribute_group})
    walk(md, add, &out);
  std::sort(out.begin(), out.end());
  return out;
}

// Types with tags, members, named values and an ANY DEFINED BY member, and
// one template of every kind.
constexpr const char* kDefinitions[] = {
    "TUL.Asn1 { name 'Counter', type 'INTEGER', tagClass application, tagValue 1, tagModifier implicit }",
    "TUL.Asn1 { name 'Colour', type 'ENUMERATED', enums { { label 'red', value 0 }, { label 'blue', value -7 } } }",
    "TUL.Asn1 { name 'Rec', type 'SEQUENCE', fields { { name 'id', type 'OBJECT IDENTIFIER' },"
    " { name 'v', type 'ANY DEFINED BY', anyDefinedById 'id', tagValue 1, existence optional },"
    " { name 'c', type 'INTEGER', enums { { label 'one', value 1 } }, existence default } } }",
    "TUL.Attribute { registration '2 9 1', label 'count', derivedOrSyntax syntax : 'Counter' }",
    "TUL.Notification { registration '2 9 2', label 'alarm', information { syntax 'Rec',"
    " andAttributeIds { { field 'f', attribute 'count' }, { field 'g', attribute 'nothing' } } },"
    " replySyntax 'Colour' }",
    "TUL.Parameter { registration '2 9 3', label 'cause', syntaxOrAttribute withSyntax : 'Undefined' }",
    "TUL.Action { registration '2 9 4', label 'reset', informationSyntax 'Colour', replySyntax 'Rec' }",
    "TUL.MOC { registration '2 9 5', label 'system' }",
    "TUL.Package { registration '2 9 6', label 'pkg' }",
    "TUL.NameBinding { registration '2 9 7', label 'nb' }",
    "TUL.AttributeGroup { registration '2 9 8', label 'grp' }",
    "TUL.Behavior { label 'beh', definedAs \"text\" }",
};

class PersistTest : public DictionaryTest {
 protected:
  void TearDown() override {
    TUL_free_Metadata(fresh);
    DictionaryTest::TearDown();
  }

  void enter_all() {
    for (const char* text : kDefinitions) enter(text);
  }
  std::string file(const std::string& name, const std::string& content) { return temp.file(name, content); }
  // Loads `path` into the fresh dictionary with tracing off; the status
  // extension's code of the first fault.
  int load_status(const std::string& path, int* line = nullptr) {
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
    return TUL_load_Metadata_status(fresh, path.c_str(), line);
  }

  TempDir temp;
  const std::string dir = temp.path();
  TUL_Metadata* fresh = TUL_new_Metadata();
};

TEST_F(PersistTest, StoreThenLoadGivesTheSameDefinitionsWithoutBehaviours) {
  enter_all();
  std::string path = dir + "/defs.per";
  ASSERT_EQ(TUL_store_Metadata(md, path.c_str()), 0);
  ASSERT_EQ(TUL_load_Metadata(fresh, path.c_str()), 0);
  EXPECT_EQ(described(fresh), described(md));
  EXPECT_EQ(TUL_number_notifications(fresh), 1);
  EXPECT_EQ(TUL_number_behaviors(fresh), 0);
  EXPECT_EQ(fresh->valid_registrations, 1);  // loading ends by building the indexes
}

// The string list holds every unique string of the process, one per line;
// records refer to them by index, -1 for none, and the template sections
// close the file.
TEST_F(PersistTest, TextFormatByteForByte) {
  TUL_unique_string("used by nobody");
  define_attribute(md, "1 2 3", "", "INTEGER");  // the empty label is a string, not none
  TUL_ActionEntry act{};
  act.entry_type = TUL_ENTRY_ACTION;
  act.name = const_cast<char*>("1 2 4");
  act.reply_syntax = const_cast<char*>("BOOLEAN");
  act.label = const_cast<char*>("act");
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&act), nullptr);
  std::string path = dir + "/x.per";
  ASSERT_EQ(TUL_store_Metadata(md, path.c_str()), 0);
  std::string bytes = slurp(path);

  const std::string signature = "DTD persistence file format V.1.7 (96/04/17)\n";
  ASSERT_EQ(bytes.substr(0, signature.size()), signature);
  size_t pos = signature.size();
  size_t comma = bytes.find(',', pos);
  int count = std::stoi(bytes.substr(pos, comma - pos));
  EXPECT_EQ(count, tul::hash::strings()->count);
  std::map<std::string, int> index;
  pos = comma + 1;
  for (int k = 0; k < count; ++k) {
    size_t end = bytes.find('\n', pos);
    index[bytes.substr(pos, end - pos)] = k;
    pos = end + 1;
  }
  EXPECT_TRUE(index.count("used by nobody"));
  auto i = [&](const char* s) { return std::to_string(index.at(s)); };
  std::string tail = "1," + i("1 2 3") + "," + i("INTEGER") + "," + i("") + ",\n0,0,1," + i("1 2 4") + ",-1," +
                     i("BOOLEAN") + "," + i("act") + ",\n0,0,0,0,";
  ASSERT_GE(bytes.size(), tail.size());
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);

  ASSERT_EQ(TUL_load_Metadata(fresh, path.c_str()), 0);
  auto* loaded = reinterpret_cast<TUL_AttributeEntry*>(_TUL_templateByName(fresh, ""));
  ASSERT_NE(loaded, nullptr);
  EXPECT_STREQ(loaded->syntax, "INTEGER");
  auto* action = reinterpret_cast<TUL_ActionEntry*>(_TUL_templateByName(fresh, "act"));
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(action->info_syntax, nullptr);
}

std::string be32(int32_t v) {
  uint32_t n = htonl(static_cast<uint32_t>(v));
  return std::string(reinterpret_cast<const char*>(&n), 4);
}
std::string legacy_string(const std::string& s) { return be32(static_cast<int32_t>(s.size())) + s; }

// A type of three members, an attribute, a notification of two items and a
// parameter, written field by field.
std::string legacy_file() {
  std::string f = legacy_string("DTD persistence file format V.0.5") + be32(1) + legacy_string("unused");
  f += be32(1) + legacy_string("Rec") + be32(0) + be32(0) + legacy_string("SEQUENCE") + be32(3);
  for (const char* m : {"a", "b", "c"})
    f += legacy_string(m) + be32(0x22) + be32(1) + legacy_string("INTEGER") + be32(0) + be32(m[0] == 'b');
  f += be32(1) + legacy_string("1 2 3") + legacy_string("Rec") + legacy_string("attr");
  f += be32(1) + legacy_string("1 2 4") + legacy_string("Rec") + legacy_string("notif") + be32(2);
  f += legacy_string("f1") + legacy_string("attr") + legacy_string("f2") + legacy_string("attr");
  f += be32(1) + legacy_string("1 2 5") + legacy_string("BOOLEAN") + legacy_string("param");
  return f;
}

TEST_F(PersistTest, LegacyFileLoadsWithoutEnumerationsOrReplySyntax) {
  ASSERT_EQ(load_status(file("old.bin", legacy_file())), 0);
  TUL_Asn1TypeEntry* rec = tul::find_type(fresh, TUL_unique_string("Rec"));
  ASSERT_NE(rec, nullptr);
  ASSERT_EQ(rec->size, 3);
  EXPECT_STREQ(rec->members[2].name, "c");
  EXPECT_EQ(rec->members[1].opt_def, 1);
  EXPECT_EQ(rec->members[0].tag_flag, 0x22);
  EXPECT_EQ(rec->enums + rec->members[0].enums, 0);
  auto* n = reinterpret_cast<TUL_NotificationEntry*>(_TUL_templateByName(fresh, "notif"));
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->size, 2);
  EXPECT_STREQ(n->info_syntax, "Rec");
  EXPECT_EQ(n->reply_syntax, nullptr);
  EXPECT_NE(_TUL_templateByName(fresh, "param"), nullptr);
  EXPECT_NE(_TUL_templateByName(fresh, "attr"), nullptr);
}

// Damaged and hostile files: each is rejected with its code; records read
// before the fault may stay, nothing leaks, nothing is read past the end.
TEST_F(PersistTest, DamagedFilesAreRejected) {
  enter_all();
  std::string good_path = dir + "/good.per";
  ASSERT_EQ(TUL_store_Metadata(md, good_path.c_str()), 0);
  const std::string good = slurp(good_path);
  const std::string head = "DTD persistence file format V.1.7 (96/04/17)\n";
  const std::string legacy = legacy_file();
  struct Row {
    const char* name;
    std::string content;
    int code;
  };
  const Row rows[] = {
      {"current signature with any version", "DTD anything\n0,0,0,0,0,0,0,0,0,0,", 0},
      {"foreign signature", "XYZ persistence\n0,", TUL_ERR_SIGNATURE},
      {"empty file", "", TUL_ERR_SIGNATURE},
      {"signature without a line feed", "DTD", TUL_ERR_SIGNATURE},
      {"truncated in the records", good.substr(0, good.size() * 2 / 3), TUL_ERR_SIGNATURE},
      {"last section cut short", good.substr(0, good.size() - 2), TUL_ERR_SIGNATURE},
      {"string count beyond the file", head + "99999,a\n", TUL_ERR_SIGNATURE},
      {"negative count", head + "0,-1,", TUL_ERR_SIGNATURE},
      {"string index outside the list", head + "1,a\n1,5,0,0,-1,0,0,\n", TUL_ERR_SIGNATURE},
      {"string line too long", head + "1," + std::string(600, 'x') + "\n0,", TUL_ERR_SIGNATURE},
      {"number text too long", head + "00000000000000000000001,a\n", TUL_ERR_SIGNATURE},
      {"member count beyond the file", head + "1,a\n1,0,0,0,-1,2000000000,", TUL_ERR_SIGNATURE},
      {"legacy truncated", legacy.substr(0, legacy.size() - 3), TUL_ERR_SIGNATURE},
      {"legacy negative length", legacy_string("DTD persistence file format V.0.5") + be32(1) + be32(-4),
       TUL_ERR_SIGNATURE},
      {"legacy length over 511",
       legacy_string("DTD persistence file format V.0.5") + be32(1) + be32(512) + std::string(512, 'x'),
       TUL_ERR_SIGNATURE},
      {"legacy type of 257 members",
       legacy_string("DTD persistence file format V.0.5") + be32(0) + be32(1) + legacy_string("T") + be32(0) + be32(0) +
           be32(0) + be32(257) + std::string(257 * 24, '\0'),
       TUL_ERR_SIGNATURE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string path = file("f", row.content);
    EXPECT_EQ(load_status(path), row.code);
    EXPECT_EQ(TUL_load_Metadata(fresh, path.c_str()), 0);  // per-file faults are only reported
  }
}

TEST_F(PersistTest, FaultsAreTracedWithTheirCodesAndLines) {
  std::string path = file("bad", "XYZ\n");
  StderrCapture err;
  EXPECT_EQ(TUL_load_Metadata(fresh, path.c_str()), 0);
  EXPECT_EQ(TUL_load_Metadata(fresh, (dir + "/missing").c_str()), TUL_ERR_OPEN);
  EXPECT_EQ(TUL_load_Metadata(nullptr, path.c_str()), TUL_ERR_ARGUMENT);
  EXPECT_EQ(TUL_store_Metadata(md, nullptr), TUL_ERR_ARGUMENT);
  EXPECT_EQ(TUL_store_Metadata(md, (dir + "/no/such/dir.per").c_str()), TUL_ERR_OPEN);
  EXPECT_EQ(err.take(), "#10 persistence file signature error: '" + path + "'\n#12 opening of file '" + dir +
                            "/missing' failed\n#21 invalid argument(s) in function 'TUL_load_Metadata'\n"
                            "#21 invalid argument(s) in function 'TUL_store_Metadata'\n#12 opening of file '" +
                            dir + "/no/such/dir.per' failed\n");
  int line = 0;
  EXPECT_EQ(load_status(file("lines", "DTD\n1,a\n1,0,0,0,-1,0,0,\n1,7,"), &line), TUL_ERR_SIGNATURE);
  EXPECT_EQ(line, 4);
}

// Only names of five or more characters ending exactly in ".per" or ".dtd";
// a file that cannot be read is skipped; the file listed first wins.
TEST_F(PersistTest, DirectoriesLoadTheirPersistenceFilesInListingOrder) {
  auto attribute_file = [&](const char* name, const char* syntax) {
    file(name, std::string("DTD\n3,lbl\n1 2\n") + syntax + "\n0,1,1,2,0,\n0,0,0,0,0,0,0,");
  };
  attribute_file("a.per", "A");
  attribute_file("b.dtd", "B");
  attribute_file("c.PER", "C");
  attribute_file(".per", "D");
  attribute_file("notes.txt", "E");
  std::filesystem::create_directory(dir + "/sub.per");
  std::vector<std::string> order;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (std::string(e->d_name) == "a.per" || std::string(e->d_name) == "b.dtd") order.push_back(e->d_name);
  closedir(d);
  EXPECT_EQ(load_status(dir), TUL_ERR_OPEN);  // the subdirectory named like a file
  auto* loaded = reinterpret_cast<TUL_AttributeEntry*>(_TUL_templateByName(fresh, "lbl"));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(std::string(loaded->syntax), order.front() == "a.per" ? "A" : "B");
  EXPECT_EQ(TUL_number_attributes(fresh), 1);
}

TEST_F(PersistTest, FailedStoreKeepsTheFileThatStoodThere) {
  std::string path = dir + "/keep.per";
  ASSERT_EQ(TUL_store_Metadata(md, path.c_str()), 0);
  const std::string before = slurp(path);
  define_attribute(md, "1 2", "two\nlines", nullptr);  // the format cannot carry the label
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  EXPECT_EQ(TUL_store_Metadata(md, path.c_str()), TUL_ERR_LIMIT);
  EXPECT_EQ(slurp(path), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no temporary left
}

// Every allocation of a load may fail: the load still ends cleanly, with a
// leak-free dictionary.
TEST_F(PersistTest, LoadSurvivesEveryAllocationFailure) {
  enter_all();
  std::string path = dir + "/defs.per";
  ASSERT_EQ(TUL_store_Metadata(md, path.c_str()), 0);
  std::string legacy = file("old", legacy_file());
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  for (const std::string& p : {path, legacy}) {
    for (long n = 1;; ++n) {
      TUL_Metadata* target = TUL_new_Metadata();
      ASSERT_NE(target, nullptr);
      FailNthAllocation fail(n);
      int status = TUL_load_Metadata_status(target, p.c_str(), nullptr);
      bool fired = fail.fired();
      TUL_free_Metadata(target);
      if (!fired) {
        EXPECT_EQ(status, 0);
        break;
      }
    }
  }
}

/* ------------------------------------------------------------------------
 * Listing and reference check
 * ---------------------------------------------------------------------- */

std::string listing(TUL_Metadata* md) {
  testing::internal::CaptureStdout();
  TUL_print_Metadata(md);
  return testing::internal::GetCapturedStdout();
}

TEST_F(PersistTest, ListingOfANewDictionaryAndItsBlocks) {
  std::string out = listing(fresh);
  EXPECT_EQ(out.substr(0, 114),
            "TUL library V.1.0 (98/02/28)\nDTD persistence file format V.1.7 (96/04/17)\n\n"
            "\n\t\tASN.1 Type Dictionary (88 entries)\n\n");
  for (const char* kind :
       {"Attribute", "Notification", "Parameter", "Action", "MOC", "Package", "Name Binding", "Attribute Group"})
    EXPECT_NE(out.find(std::string("\n\t\t") + kind + " Template Dictionary (0 entries)\n\n"), std::string::npos)
        << kind;
  EXPECT_EQ(out.find("Behavior Template"), std::string::npos);
  enter_all();
  out = listing(md);
  for (const char* block : {
           "syntax: Rec\n templ: OK\n   tag: \n  type: SEQUENCE\n  size: 3\n"
           "\tid                   OBJECT IDENTIFIER  \n"
           "\tv                    [CONT 1] EXPL ANY DEFINED BY id OPT/DEF\n"
           "\tc                    INTEGER  OPT/DEF\n\t\tone (1)\n\n",
           "syntax: Colour\n templ: OK\n   tag: \n  type: ENUMERATED\n enums: 2\n\tred (0)\n\tblue (-7)\n\n",
           "syntax: Counter\n templ: OK\n   tag: [APPL 1] IMPL \n  type: INTEGER\n\n",
           "registration: 2 9 1\n      syntax: Counter\n       label: count\n\n",
           "registration: 2 9 2\n info syntax: Rec\n       label: alarm\n"
           "\tf                              count\n\tg                              nothing\n"
           "reply syntax: Colour\n\n",
           "registration: 2 9 4\n info syntax: Colour\nreply syntax: Rec\n       label: reset\n\n",
           "registration: 2 9 7\n       label: nb\n\n",
       })
    EXPECT_NE(out.find(block), std::string::npos) << block;
}

TEST_F(PersistTest, ReferenceCheckReportsEachUnresolvedReferenceWithItsBlock) {
  enter_all();
  testing::internal::CaptureStdout();
  EXPECT_EQ(TUL_check_Metadata(md, nullptr), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "reference \"nothing\" not resolved! found in Notification Template:\n"
            "registration: 2 9 2\n info syntax: Rec\n       label: alarm\n"
            "\tf                              count\n\tg                              nothing\n"
            "reply syntax: Colour\n\n"
            "reference \"Undefined\" not resolved! found in Parameter Template:\n"
            "registration: 2 9 3\n      syntax: Undefined\n       label: cause\n\n");
  EXPECT_EQ(TUL_check_Metadata(fresh, nullptr), 0);  // the built-in types resolve among themselves
}

/* ------------------------------------------------------------------------
 * Source generator
 * ---------------------------------------------------------------------- */

class GeneratorTest : public PersistTest {
 protected:
  std::string generate(char** ignore_list) {
    std::string stem = dir + "/defs";
    EXPECT_EQ(TUL_generate_Metadata_string(md, stem.c_str(), ignore_list), 0);
    return slurp(stem + ".h");
  }
};

// The header holds one literal per entry, joined across lines; the ignore
// list drops the entries whose names start with one of its prefixes.
TEST_F(GeneratorTest, HeaderLayoutIgnoreListAndOpenFailure) {
  char tul[] = "TUL";
  char* ignore[] = {tul, nullptr};
  std::string h = generate(ignore);
  EXPECT_NE(h.find("\nstatic const char* " + dir + "/defs[] = {\n"), std::string::npos);
  EXPECT_EQ(h.substr(h.size() - 28), "0 /* end of meta data */\n};\n");
  EXPECT_NE(h.find("\"TUL.Asn1 {\"\n\"    name 'ObjectDescriptor',\"\n\"    type 'GraphicString',\""),
            std::string::npos);
  EXPECT_EQ(h.find("name 'TUL."), std::string::npos);
  enter_all();
  h = generate(nullptr);
  EXPECT_NE(h.find("name 'TUL.String'"), std::string::npos);
  EXPECT_NE(h.find("\n\"TUL.MOC {\"\n\"    registration '2 9 5',\"\n\"    label 'system'\"\n\"}\",\n\n"),
            std::string::npos);
  std::string stem = dir + "/no/such";
  StderrCapture err;
  EXPECT_EQ(TUL_generate_Metadata_string(md, stem.c_str(), nullptr), TUL_ERR_OPEN);
  EXPECT_EQ(err.take(), "#12 opening of file '" + stem + ".h' failed\n");
}

}  // namespace
