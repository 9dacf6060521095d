// Tests of the tul program: runs the built binary on the bundled examples and
// on broken inputs, and checks its output, its messages and its exit status.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/dictionary_test.h"
#include "tul.h"

namespace {

const std::string kExamples = std::string(TUL_EXAMPLES) + "/";
const std::string kDefs = "--defs " + kExamples + "snmpv1.defs ";
const std::string kAllDefs = kDefs + "--defs " + kExamples + "mib2.defs ";
const std::string kTrap = kExamples + "trap.ber";
const std::string kGet = kExamples + "get.ber";

struct Result {
  int status;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class CliTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tul-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string file(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Runs "tul ARGS" through the shell, so ARGS may redirect standard input.
  Result run(const std::string& args) {
    const int status = std::system((TUL_CLI " " + args + " >" + dir_ + "/out 2>" + dir_ + "/err").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir_ + "/out"), slurp(dir_ + "/err")};
  }

  std::string dir_;
};

// The bundled encodings must stay those of the bundled value texts, all
// three ways of feeding a decode must agree, and decoded text (labels and
// all) must encode back to the same octets.
TEST_F(CliTest, SamplesMatchTheirTextsInEveryInputForm) {
  for (const std::string sample : {"trap", "get"}) {
    SCOPED_TRACE(sample);
    const std::string base = kExamples + sample;
    EXPECT_EQ(run(kDefs + "encode " + base + ".txt").out, slurp(base + ".ber"));
    EXPECT_EQ(run(kDefs + "encode --hex " + base + ".txt").out, slurp(base + ".hex"));
    const Result raw = run(kDefs + "decode Message " + base + ".ber");
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(raw.err, "");
    EXPECT_EQ(run(kDefs + "print " + base + ".txt").out, raw.out);
    EXPECT_EQ(run(kDefs + "decode --hex Message " + base + ".hex").out, raw.out);
    EXPECT_EQ(run(kDefs + "decode Message - < " + base + ".ber").out, raw.out);
    const std::string labelled = run(kAllDefs + "--oid-labels decode Message " + base + ".ber").out;
    EXPECT_EQ(run(kAllDefs + "encode " + file("labelled.txt", labelled)).out, slurp(base + ".ber"));
  }
}

// Records are read as they come, across reads of the input: 400 traps are
// more than one read, and a record cut at the very end is still reported
// at its offset.
TEST_F(CliTest, ManyRecordsAcrossReads) {
  const std::string trap = slurp(kTrap), one = run(kDefs + "decode Message " + kTrap).out;
  std::string many, expected;
  for (int k = 0; k < 400; ++k) many += trap, expected += one;
  EXPECT_EQ(run(kDefs + "decode Message - < " + file("many.ber", many)).out, expected);
  const Result cut = run(kDefs + "decode Message " + file("cut.ber", many.substr(0, many.size() - 1)));
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("cut.ber: record 400 at offset 81795: #17"), std::string::npos) << cut.err;
  // A record is decoded as soon as a pipe has delivered it whole.
  const std::string piped = dir_ + "/piped";
  std::system(("(head -c 100 " + kTrap + "; sleep 0.2; tail -c +101 " + kTrap + ") | " TUL_CLI " " + kDefs +
               "decode Message - >" + piped).c_str());
  EXPECT_EQ(slurp(piped), one);
}

TEST_F(CliTest, TypesAndDescriptions) {
  const Result types = run(kDefs + "types");
  std::vector<std::string> names;
  for (std::size_t at = 0, end; (end = types.out.find('\n', at)) != std::string::npos; at = end + 1)
    names.push_back(types.out.substr(at, end - at));
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  for (const char* name : {"Trap-PDU", "VarBindList"}) EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
  for (const char* name : {"INTEGER", "TUL.Asn1"}) EXPECT_EQ(std::count(names.begin(), names.end(), name), 0) << name;
  const std::string all = run(kDefs + "types --all").out;
  for (const char* name : {"\nINTEGER\n", "\nANY DEFINED BY\n", "\nTUL.Asn1\n", "\nTrap-PDU\n"})
    EXPECT_NE(all.find(name), std::string::npos) << name;
  EXPECT_EQ(run("types").out, "");

  // A description reads back as the same definition.
  const Result described = run(kDefs + "describe Trap-PDU");
  EXPECT_NE(described.out.find("tagModifier implicit"), std::string::npos);
  EXPECT_EQ(run("--defs " + file("trap.defs", described.out) + " describe Trap-PDU").out, described.out);
}

TEST_F(CliTest, OutcomesOfGoodAndBadInput) {
  const std::string get = slurp(kGet);
  const std::string hex_any = "decode --hex ANY ";
  const std::string message = kDefs + "decode Message ";
  std::string misplaced = slurp(kTrap);
  misplaced[40] = '\x99';
  const struct {
    const char* name;
    std::string args;
    int status;
    std::string out_has;
    std::string err_has;  // empty: nothing on standard error
    int messages = -1;    // when set: the number of "Message {" lines printed
  } rows[] = {
      {"two records in one file", message + kGet, 0, "get-request", "", 2},
      {"oid-labels puts the label first", kAllDefs + "--oid-labels decode Message " + kTrap, 0,
       "enterprise exampleAgent -- {1 3 6 1 4 1 32473 1} --", ""},
      {"trace-ber annotates ANY", "--trace-ber decode ANY " + kGet, 0, "-- ( UNIV SEQ\n--     ( UNIV INT 0x1", ""},
      {"indefinite lengths frame nested records", hex_any + file("i.hex", "3080 020105 3080 0000 0000\n3003020107"),
       0, "ANY '30050201053000'H\nANY '3003020107'H\n", ""},
      {"comments alone are no value", "print " + file("empty.txt", "-- nothing -- \n\n-- here\n"), 0, "", ""},
      {"final: the type holding the fields", kDefs + "describe --final GetRequest-PDU", 0, "name \"request-id\"", ""},
      {"built-in type", "describe INTEGER", 0, "-- INTEGER is a built-in type without a description\n", ""},
      {"final of a type derived from a user type",
       "--defs " + file("c.defs", "TUL.Asn1 { name 'C9', type 'INTEGER' }\nTUL.Asn1 { name 'C10', type 'C9' }\n") +
           " describe --final C10",
       0, "-- C10 is not derived from a constructed type; its own definition:\nTUL.Asn1 {", ""},
      {"a record of another type decodes with a warning", "decode --hex INTEGER " + file("os.hex", "040105"), 0,
       "INTEGER 5", "os.hex: record 1 at offset 0: warning: identifier 04 found where INTEGER expects 02"},
      {"--strict fails it", "--strict decode --hex INTEGER " + file("os.hex", "040105"), 1, "",
       "error: identifier 04 found where INTEGER expects 02"},
      {"a definition no value could use", "--defs " + file("self.defs", "TUL.Asn1 { name 'S', type 'S' }") + " types",
       1, "", "self.defs:1: invalid definition (ASN.1 or GDMO) provided"},
      {"a second record cut short keeps the first", message + file("cut.ber", get.substr(0, 100)), 1,
       "get-request", "cut.ber: record 2 at offset 55: #17 decode error", 1},
      {"garbage after a record", message + file("junk.ber", slurp(kTrap) + "\x30"), 1, "trap",
       "record 2 at offset 205: #17 decode error: 'octets are not BER (X.209) encoded' in an object from type "
       "'BER-String' (element cut short)", 1},
      {"end-of-contents missing", hex_any + file("open.hex", "3080 020105"), 1, "", "record 1 at offset 0: #17"},
      {"the member whose tag is out of place", message + file("tag.ber", misplaced), 1, "",
       "#17 decode error: 'unexpected member tag found' in an object from type 'Trap-PDU'\ntul: " + dir_ +
           "/tag.ber: record 1 at offset 0: in data.trap.time-stamp at offset 40 of the record: tag [25] found\n"},
      {"encoding of another type", kDefs + "decode INTEGER " + kTrap, 1, "",
       "'wrong encoding or data overflow' in an object from type 'INTEGER'"},
      {"no hexadecimal digit", hex_any + file("bad.hex", "3003\n020g07\n"), 1, "", "bad.hex:2: 'g' is not a hex"},
      {"odd hexadecimal digits", hex_any + file("odd.hex", "300"), 1, "", "odd number"},
      {"missing file", "decode ANY " + dir_ + "/absent.ber", 1, "", "cannot open"},
      {"parse error names the line", "print " + file("bad.txt", "INTEGER 5\n\nINTEGER x\n"), 1, "INTEGER 5\n",
       "bad.txt:3: #11 parse error: invalid INTEGER/ENUMERATED identifier, line: 3, last token: x"},
      {"value cut short", "print " + file("short.txt", "BOOLEAN TRUE\nSEQUENCE OF {\n"), 1, "BOOLEAN TRUE",
       "short.txt:2: #20 EOF detected while parsing"},
      {"mandatory member absent", kDefs + "encode " + file("half.txt", "Message { version 0, community ''H }"), 1, "",
       "half.txt:1: cannot encode the Message value: #16 encode error: the member 'data'"},
      {"definitions file holding another value", "--defs " + file("x.defs", "\n INTEGER 3") + " types", 1, "",
       "x.defs:2: a value of type INTEGER is no definition"},
      {"definitions that do not parse", "--defs " + file("y.defs", "TUL.Asn1 { name 'A', typ 'B' }") + " types", 1, "",
       "y.defs:1: parse error"},
      {"definitions with a duplicate and a dangling reference",
       "--defs " + file("d.defs", "TUL.Asn1 { name 'A', type 'X' }\nTUL.Asn1 { name 'A', type 'INTEGER' }") + " types", 0,
       "A\n", "d.defs:2: warning: 'A' is already defined; this definition is ignored\n" + dir_ +
       "/d.defs:1: warning: 'A' refers to 'X', which is not defined"},
      // Usage: help on standard output, usage errors on standard error.
      {"help", "--help", 0, "Usage: tul [OPTIONS] COMMAND [ARGUMENTS]", ""},
      {"short help option of a command", "decode -h", 0, "Usage: tul [OPTIONS] decode [--hex] TYPE [FILE]", ""},
      {"help on a command", "help encode", 0, "encode [--hex] [FILE]", ""},
      {"help option before the command", "--help types", 0, "types [--all]\n", ""},
      {"no command", "", 2, "", "tul: no command given\nTry 'tul --help'."},
      {"unknown command", "frobnicate", 2, "", "unknown command 'frobnicate'"},
      {"unknown option", "--frob types", 2, "", "unknown option '--frob'"},
      {"option without its file", "types --defs", 2, "", "option --defs needs a file name"},
      {"argument missing", "decode", 2, "", "decode: missing argument\nTry 'tul decode --help'."},
      {"argument too many", "types extra", 2, "", "unexpected argument 'extra'"},
      {"option of another command", "print --hex", 2, "", "option --hex does not apply to print"},
      {"unknown type to decode", "decode Nope x", 2, "", "no type 'Nope' in the dictionary"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Result r = run(row.args);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_TRUE(row.out_has.empty() ? r.out.empty() : r.out.find(row.out_has) != std::string::npos) << r.out;
    EXPECT_TRUE(row.err_has.empty() ? r.err.empty() : r.err.find(row.err_has) != std::string::npos) << r.err;
    if (row.messages >= 0) {
      std::size_t count = 0;
      for (std::size_t at = 0; (at = r.out.find("Message {", at)) != std::string::npos; ++at) ++count;
      EXPECT_EQ(count, static_cast<std::size_t>(row.messages));
    }
  }
}

// A stored dictionary, as a file or in a directory, serves --defs as the
// value-notation definitions do; the bundled stored copy stays current.
TEST_F(CliTest, PersistenceFilesAndReports) {
  const std::string stored = dir_ + "/defs.per";
  ASSERT_EQ(run(kDefs + "store " + stored).status, 0);
  const std::string decoded = run(kDefs + "decode Message " + kTrap).out;
  EXPECT_EQ(run("--defs " + stored + " decode Message " + kTrap).out, decoded);
  EXPECT_EQ(run("--defs " + kExamples + "snmpv1.per decode Message " + kTrap).out, decoded);
  EXPECT_EQ(run("--defs " + dir_ + " decode Message " + kTrap).out, decoded);
  EXPECT_EQ(run(kDefs + "describe Trap-PDU").out, run("--defs " + stored + " describe Trap-PDU").out);

  const Result listed = run(kDefs + "list");
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.out.find("syntax: Trap-PDU\n templ: OK\n   tag: [CONT 4] IMPL \n  type: SEQUENCE\n  size: 6\n"),
            std::string::npos);
  EXPECT_EQ(run(kDefs + "check").out, "");
  const Result broken = run(kDefs + "--defs " + file("u.defs", "TUL.Asn1 { name 'U', type 'Missing' }") + " check");
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.out.substr(0, 65), "reference \"Missing\" not resolved! found in ASN.1 type definition:");
  const Result header = run(kDefs + "header snmp");
  EXPECT_EQ(header.status, 0);
  EXPECT_NE(header.out.find("static const char* snmp[] = {\n\"TUL.Asn1 {\"\n"), std::string::npos);
  EXPECT_EQ(run("header 9lives").status, 2);

  const std::string damaged = file("damaged.per", slurp(stored).substr(0, 5000));
  const Result r = run("--defs " + damaged + " types");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("#10 persistence file signature error: '" + damaged + "'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("tul: " + damaged + ":"), std::string::npos) << r.err;
  const Result unwritable = run(kDefs + "store " + dir_ + "/no/such.per");
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("#12 opening of file"), std::string::npos);
}

// The library calls the program makes for `--defs snmpv1.defs decode Message
// trap.ber`, under a memory shortage at every allocation in turn: each run
// ends in the reference text or in a failure one call reports (an error
// object, an error code or a null result), never in output that silently
// lost a definition or part of a value.
TEST(CliPipeline, ShortagesAlwaysShow) {
  const std::string defs = slurp(kExamples + "snmpv1.defs"), trap = slurp(kTrap);
  bool fired = false;
  auto run = [&](long fail_at) -> std::string {
    TUL_Metadata* md = TUL_new_Metadata();
    if (!md) return "<no dictionary>";
    tul::test::FailNthAllocation failure(fail_at);
    std::string outcome;
    FILE* in = fmemopen(const_cast<char*>(defs.data()), defs.size(), "r");
    for (TUL_Object* v; outcome.empty() && (v = TUL_parse(md, in, nullptr));) {
      if (v->error) {
        if (v->error != TUL_ERR_EOF) outcome = "<parse failed>";
        TUL_free(v);
        break;
      }
      TUL_Object* entered = TUL_add_definition(md, v);
      if (entered != v) outcome = "<definition refused>";
      if (entered != v) TUL_free(entered);
      TUL_free(v);
    }
    std::fclose(in);
    TUL_Object* ber = TUL_new("BER-String", md, static_cast<int>(trap.size()), trap.data());
    TUL_Object* value = outcome.empty() && ber && !ber->error ? TUL_decode("Message", ber, md) : nullptr;
    char* text = value && !value->error ? TUL_print2str(value) : nullptr;
    if (outcome.empty()) outcome = text ? text : "<decode or print failed>";
    std::free(text);
    TUL_free(value);
    TUL_free(ber);
    fired = failure.fired();
    TUL_free_Metadata(md);
    return outcome;
  };
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  const std::string reference = run(0);
  ASSERT_EQ(reference.rfind("Message {", 0), 0u) << reference;
  for (long n = 1;; ++n) {
    const std::string outcome = run(n);
    if (!fired) {
      EXPECT_EQ(outcome, reference);
      break;
    }
    // A shortage may also hit only what the output does not show (a cache).
    if (outcome != reference) {
      ASSERT_EQ(outcome.front(), '<') << "allocation " << n << " lost data silently:\n" << outcome;
    }
  }
  TUL_free_unique_strings();
}

// The html command checks the directory itself, so an unusable one is a
// message and status 1 rather than the library ending the process.
TEST_F(CliTest, HtmlPages) {
  const std::string pages = dir_ + "/pages";
  const Result made = run(kAllDefs + "html --value " + kExamples + "trap.txt " + pages);
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.err, "");
  EXPECT_NE(slurp(pages + "/mocs.html").find("<a name=\"exampleAgent\">"), std::string::npos);
  EXPECT_NE(slurp(pages + "/value.html").find("<a href=\"asn1types.html#Message\">Message</a> {"),
            std::string::npos);
  const std::string plain = file("plain", "x");
  const std::string two = file("two.txt", "INTEGER 1 INTEGER 2");
  const struct {
    const char* name;
    std::string args;
    int status;
    std::string err_has;
  } rows[] = {
      {"dictionary only", "html " + dir_ + "/dict", 0, ""},
      {"parent missing", "html " + dir_ + "/no/such", 1, "cannot create directory '" + dir_ + "/no/such'"},
      {"a file in the way", "html " + plain, 1, "cannot write into directory '" + plain + "': Not a directory"},
      {"two values", "html --value " + two + " " + pages, 1, two + ":1: a second value"},
      {"no value", "html --value=" + file("empty.txt", "-- nothing\n") + " " + pages, 1, "no value to document"},
      {"value option elsewhere", "types --value " + two, 2, "option --value does not apply to types"},
      {"value option without its file", "html x --value", 2, "option --value needs a file name"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Result r = run(row.args);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_TRUE(row.err_has.empty() ? r.err.empty() : r.err.find(row.err_has) != std::string::npos) << r.err;
  }
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/dict/overview.html"));
}

// Modules enter through --defs (by extension or by their first words) and
// the import command reports with file, line, column and assignment.
TEST_F(CliTest, ModulesImportThroughDefsAndTheImportCommand) {
  const std::string module = "M DEFINITIONS ::= BEGIN\nA ::= SEQUENCE { a INTEGER }\nB ::= EMBEDDED PDV\nEND\n";
  const struct {
    const char* name;
    std::string args;
    int status;
    std::string out_has;
    std::string err_has;
  } rows[] = {
      {"module and definitions decode alike", "--defs " + kExamples + "snmpv1.asn decode Message " + kTrap, 0,
       run(kDefs + "decode Message " + kTrap).out, ""},
      {"check a batch", "import --check " + kExamples + "snmpv1.asn " + kExamples + "cmip1.asn", 0,
       "42 types checked, 0 items skipped, 7 values kept, 0 errors, 0 warnings", ""},
      {"a rejected assignment", "import " + file("bad.asn", module), 1,
       "bad.asn:3:7: error: B: EMBEDDED PDV is not supported at 'EMBEDDED'\n1 types entered", ""},
      {"a module file without the extension", "--defs " + file("m.txt", "-- note\n" + module) + " describe A", 1, "",
       "m.txt:4:7: error: B: EMBEDDED PDV"},
      {"definitions file not taken for a module", "--defs " + kExamples + "cmip1.defs describe Scope", 0, "baseObject", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Result r = run(row.args);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_NE(r.out.find(row.out_has), std::string::npos) << r.out;
    EXPECT_TRUE(row.err_has.empty() ? r.err.empty() : r.err.find(row.err_has) != std::string::npos) << r.err;
  }
  // An imported batch stored as a persistence file decodes as the module does.
  const std::string stored = dir_ + "/imported.per";
  EXPECT_EQ(run("import --store " + stored + " " + kExamples + "snmpv1.asn").status, 0);
  EXPECT_EQ(run("--defs " + stored + " decode Message " + kTrap).out, run(kDefs + "decode Message " + kTrap).out);
  EXPECT_EQ(run("import --store " + dir_ + "/no/such.per " + kExamples + "snmpv1.asn").status, 1);
}

}  // namespace

// ---- translate and filter ----

const std::string kEventDefs = kDefs + "--defs " + kExamples + "cmip.defs ";
const std::string kFilterDefs = kEventDefs + "--defs " + kExamples + "cmisfilter.defs ";

TEST_F(CliTest, TranslatedReportsPipeIntoFilter) {
  for (const std::string sample : {"events", "traps"}) {
    SCOPED_TRACE(sample);
    EXPECT_EQ(run(kEventDefs + "encode " + kExamples + sample + ".txt").out, slurp(kExamples + sample + ".ber"));
  }
  const Result piped = run(kFilterDefs + "filter " + kExamples + "alarm-filter.txt - < " +
                           file("lists.txt", run(kEventDefs + "translate EventReportArgument " + kExamples + "events.ber").out));
  EXPECT_EQ(piped.out, "list 1: match\nlist 2: no match\nlist 3: no match\n");
  EXPECT_EQ(piped.status, 0);
  const Result traps = run(kEventDefs + "translate Trap-PDU " + kExamples + "traps.ber");
  EXPECT_EQ(traps.status, 0);
  EXPECT_EQ(std::count(traps.out.begin(), traps.out.end(), '{') - std::count(traps.out.begin(), traps.out.end(), '}'), 0);
  EXPECT_NE(traps.out.find("attributeValue ObjectSyntax simple : string : '65746831'H"), std::string::npos);
}

TEST_F(CliTest, TranslateAndFilterFailures) {
  const std::string mixed = file("mixed.ber", slurp(kExamples + "traps.ber") + slurp(kExamples + "events.ber").substr(0, 78));
  const Result partly = run(kEventDefs + "translate Trap-PDU " + mixed);
  EXPECT_EQ(partly.status, 1);
  EXPECT_EQ(partly.out.rfind("AttributeList {"), partly.out.find("AttributeList {", 1)) << "two lists:\n" << partly.out;
  EXPECT_NE(partly.err.find("record 3 at offset"), std::string::npos) << partly.err;
  EXPECT_NE(partly.err.find("does not translate as Trap-PDU"), std::string::npos);

  const std::string filter = kExamples + "alarm-filter.txt ";
  const struct {
    const char* name;
    std::string args;
    int status;
    std::string err_has;
  } rows[] = {
      {"unknown kind", kEventDefs + "translate Event " + kTrap, 2, "unknown kind 'Event'"},
      {"cut record", kEventDefs + "translate Trap-PDU " + file("cut.ber", slurp(kExamples + "traps.ber").substr(0, 9)), 1,
       "record 1 at offset 0"},
      {"filter file without a filter", kFilterDefs + "filter " + file("none.txt", "-- nothing\n") + " " + kTrap, 1, "no filter"},
      {"filter file with another value", kFilterDefs + "filter " + file("int.txt", "INTEGER 1") + " " + kTrap, 1,
       "is no CMISFilter"},
      {"filter that cannot be evaluated",
       kFilterDefs + "filter " +
           file("bad.txt", "CMISFilter item : greaterOrEqual : { attributeId { 1 1 }, attributeValue REAL 1.5 }") + " " + kTrap,
       1, "cannot be ordered"},
      {"a value that is no list", kFilterDefs + "filter " + filter + file("x.txt", "INTEGER 3"), 1,
       "a value of type INTEGER is no attribute list"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Result r = run(row.args);
    EXPECT_EQ(r.status, row.status);
    EXPECT_NE(r.err.find(row.err_has), std::string::npos) << r.err;
  }
}

// ---- keep going past bad records ----

TEST_F(CliTest, KeepGoingReportsEachBadRecordAndFailsAtTheEnd) {
  const std::string trap = slurp(kExamples + "trap.hex");
  const std::string lines = file("mixed.hex", trap + "30 0g\n\n3003020105 00\n300302\n" + trap);
  const std::string traps = slurp(kExamples + "traps.ber");
  const std::string values = file("mixed.txt", "INTEGER 5\nINTEGER x y\n  z\nMessage { version 0, community ''H }\nINTEGER 7\n");
  const struct {
    const char* name;
    std::string args;
    std::string out;  // exact standard output, or the count of this text below
    int count;
    std::vector<std::string> err_has;
  } rows[] = {
      {"decode: one hex record per line", kDefs + "decode --keep-going --hex Message " + lines, "Message {", 2,
       {"mixed.hex:2: 'g' is not a hexadecimal digit", "mixed.hex:2: record 2 at offset 205: skipped",
        "mixed.hex:4: record 3 at offset 205: #17", "1 octets after the record on its line",
        "mixed.hex:5: record 4 at offset 211: #17", "element cut short"}},
      {"decode: raw records go on until one cannot be measured",
       kDefs + "decode --keep-going Message " + file("r.ber", slurp(kTrap) + "\x02\x01\x05" + slurp(kTrap) + "\x30\x05"),
       "Message {", 2, {"record 2 at offset 205: #17", "record 4 at offset 413: #17"}},
      {"encode: values that do not parse or encode are skipped", kDefs + "encode --hex --keep-going " + values,
       "020105\n020107\n", -1, {"mixed.txt:2: #11 parse error", "mixed.txt:4: cannot encode the Message value"}},
      {"translate: bad lines and cut records", kEventDefs + "translate --hex --keep-going Trap-PDU " +
       file("t.hex", "0102\n" + std::string(1, '\n')), "", -1, {"t.hex:1: record 1 at offset 0: element cut short"}},
      {"translate: raw records", kEventDefs + "translate --keep-going Trap-PDU " + file("t.ber", traps + "\x02\x01\x05" + traps + "\x30"),
       "AttributeList {", 4, {"record 3 at offset 99: does not translate", "record 6 at offset 201: element cut short"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Result r = run(row.args);
    EXPECT_EQ(r.status, 1);
    if (row.count < 0) {
      EXPECT_EQ(r.out, row.out);
    } else {
      std::size_t count = 0;
      for (std::size_t at = 0; (at = r.out.find(row.out, at)) != std::string::npos; ++at) ++count;
      EXPECT_EQ(count, static_cast<std::size_t>(row.count)) << r.out;
    }
    for (const std::string& text : row.err_has) EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r.err;
  }
  // Without the option the first bad record still ends the run.
  EXPECT_EQ(run(kDefs + "encode --hex " + values).out, "020105\n");
  EXPECT_EQ(run(kDefs + "decode --hex Message " + lines).status, 1);
  EXPECT_EQ(run("print --keep-going x").status, 2);
}

TEST_F(CliTest, IntegersAre64BitUnlessStrict) {
  const std::string wide = file("wide.hex", "02050080000000\n");
  const Result decoded = run("decode --hex INTEGER " + wide);
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ(decoded.out, "INTEGER 2147483648\n");
  EXPECT_EQ(run("encode --hex " + file("wide.txt", "INTEGER -4294967296")).out, "0205FF00000000\n");
  const Result strict = run("--strict-integers decode --hex INTEGER " + wide);
  EXPECT_EQ(strict.status, 1);
  EXPECT_NE(strict.err.find("#17 decode error"), std::string::npos);
  EXPECT_NE(strict.err.find("INTEGER values are 32-bit with --strict-integers"), std::string::npos) << strict.err;
  const Result nine = run("decode --hex INTEGER " + file("nine.hex", "0209 010000000000000000"));
  EXPECT_EQ(nine.status, 1);
  EXPECT_NE(nine.err.find("INTEGER values are 64-bit"), std::string::npos) << nine.err;
  EXPECT_NE(nine.err.find("in the outermost value at offset 0 of the record: tag [UNIVERSAL 2] found (read as INTEGER)"),
            std::string::npos) << nine.err;
  EXPECT_NE(run("--help").out.find("--strict-integers"), std::string::npos);
}

TEST_F(CliTest, JsonLinesOnePerRecord) {
  const Result decoded = run(kDefs + "decode --json Message " + kGet);
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ(std::count(decoded.out.begin(), decoded.out.end(), '\n'), 2);
  EXPECT_EQ(decoded.out.find("{\"type\":\"Message\",\"value\":{\"version\":0,\"community\":\"public\""), 0u) << decoded.out;
  const Result translated = run(kEventDefs + "translate --json Trap-PDU " + kExamples + "traps.ber");
  EXPECT_NE(translated.out.find("{\"simple\":{\"string\":\"eth1\"}}"), std::string::npos) << translated.out;
  EXPECT_EQ(run(kDefs + "encode --json " + kTrap).status, 2);
}

TEST_F(CliTest, OctetStringsShowTheirTextUnlessPlain) {
  const Result annotated = run(kDefs + "decode Message " + kTrap);
  for (const char* text : {"community '7075626C6963'H -- \"public\" --,", "internet : 'C000020A'H -- 192.0.2.10 --,",
                           "string : '65746831'H -- \"eth1\" --"})
    EXPECT_NE(annotated.out.find(text), std::string::npos) << text;
  EXPECT_EQ(run(kDefs + "encode " + file("a.txt", annotated.out)).out, slurp(kTrap));
  const Result plain = run(kDefs + "--plain decode Message " + kTrap);
  EXPECT_EQ(plain.out.find("--"), std::string::npos) << plain.out;
  // Text that would end the comment early, octets that are no text and
  // whole encodings get no comment.
  const Result others = run("print " + file("o.txt", "OCTET STRING '612D2D62'H\nOCTET STRING '0001'H\nANY '0401'H\n"));
  EXPECT_EQ(others.out, "OCTET STRING '612D2D62'H\nOCTET STRING '0001'H\nANY '0401'H\n");
}

// ---- captures ----

namespace {

// Fields of the captures the tests write: the file formats are
// little-endian, the network headers big-endian.
std::string little(uint64_t v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i, v >>= 8) s += static_cast<char>(v & 0xFF);
  return s;
}
std::string big(uint32_t v, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; --i) s += static_cast<char>(v >> (8 * i));
  return s;
}

std::string udp(const std::string& payload, int port) {
  return big(1234, 2) + big(port, 2) + big(8 + payload.size(), 2) + big(0, 2) + payload;
}
// IPv4 from 192.0.2.1; `flags` 0x2000 marks a fragment.
std::string ipv4(const std::string& body, int protocol = 17, int flags = 0) {
  return "\x45" + big(0, 1) + big(20 + body.size(), 2) + big(0, 2) + big(flags, 2) + "\x40" + big(protocol, 1) +
         big(0, 2) + big(0xC0000201, 4) + big(0xC0000202, 4) + body;
}
std::string ipv6(const std::string& body) {
  return big(0x60000000, 4) + big(body.size(), 2) + "\x11\x40" + std::string(15, '\0') + "\x01" +
         std::string(15, '\0') + "\x02" + body;
}
std::string ethernet(const std::string& packet, int type = 0x0800) { return std::string(12, '\x02') + big(type, 2) + packet; }
std::string cooked(const std::string& packet) { return big(0, 2) + big(772, 2) + big(6, 2) + std::string(8, '\0') + big(0x86DD, 2) + packet; }

// A pcap file of link type `link`; each frame is kept whole unless a
// capture length is given.
std::string pcap(int link, const std::vector<std::pair<std::string, std::size_t>>& frames) {
  std::string file = little(0xA1B2C3D4, 4) + little(2, 2) + little(4, 2) + little(0, 8) + little(65535, 4) + little(link, 4);
  for (const auto& [frame, kept] : frames) {
    const std::size_t caplen = std::min(kept, frame.size());
    file += little(0, 8) + little(caplen, 4) + little(frame.size(), 4) + frame.substr(0, caplen);
  }
  return file;
}
std::string pcapng(int link, const std::vector<std::string>& frames) {
  std::string file = little(0x0A0D0D0A, 4) + little(28, 4) + little(0x1A2B3C4D, 4) + little(1, 2) + little(0, 2) +
                     little(0xFFFFFFFF, 4) + little(0xFFFFFFFF, 4) + little(28, 4);
  file += little(1, 4) + little(20, 4) + little(link, 2) + little(0, 2) + little(65535, 4) + little(20, 4);
  for (std::string frame : frames) {
    const std::size_t size = frame.size();
    frame.resize((size + 3) / 4 * 4, '\0');
    const uint32_t total = 32 + frame.size();
    file += little(6, 4) + little(total, 4) + little(0, 12) + little(size, 4) + little(size, 4) + frame + little(total, 4);
  }
  return file;
}

}  // namespace

TEST_F(CliTest, CapturesGiveTheirUdpPayloads) {
  const std::string trap = slurp(kTrap);
  const std::string frames = pcap(1, {{ethernet(ipv4(udp(trap, 162))), SIZE_MAX},
                                      {ethernet(std::string(28, '\x01'), 0x0806), SIZE_MAX},
                                      {ethernet(ipv4(std::string(20, '\0'), 6)), SIZE_MAX},
                                      {ethernet(ipv4(udp(trap, 162), 17, 0x2000)), SIZE_MAX},
                                      {ethernet(ipv4(udp(trap, 53))), SIZE_MAX},
                                      {ethernet(ipv4(udp(trap, 162))), 150},
                                      {ethernet(ipv4(udp(trap, 161))), SIZE_MAX}});
  const std::string captured = file("traps.pcap", frames);
  const std::string skipped = "skipped 2 frames without a UDP datagram, 1 IP fragments and 1 datagrams of other ports";
  const std::string decode = kDefs + "decode Message --pcap ";
  const struct {
    const char* name;
    std::string args;
    int status;
    int messages;
    std::vector<std::string> err_has;
  } rows[] = {
      {"frames of every kind, one cut short", decode + captured + " --keep-going", 1, 2,
       {"traps.pcap: packet 6 from 192.0.2.1:1234: #17", "packet captured in part: 108 of 205 octets", skipped}},
      {"the first bad packet ends the run without --keep-going", decode + captured, 1, 1, {"packet 6 from"}},
      {"pcapng, Linux cooked frames, IPv6 and a port of choice",
       decode + file("six.pcapng", pcapng(113, {cooked(ipv6(udp(trap, 1162))), cooked(ipv6(udp(trap, 162)))})) +
           " --port 1162", 0, 1, {"1 datagrams of other ports"}},
      {"a file cut inside a packet", decode + file("cut.pcap", frames.substr(0, frames.size() - 20)) + " --keep-going", 1, 1,
       {"cut.pcap: truncated dump file"}},
      {"not a capture", decode + kTrap, 1, 0, {"trap.ber: not a capture that can be read"}},
      {"no --hex with a capture", decode + captured + " --hex", 2, 0, {"--pcap reads a capture"}},
      {"--port without a capture", kDefs + "decode --port 162 Message " + kTrap, 2, 0, {"--port applies to --pcap"}},
      {"a port that is no number", decode + captured + " --port 99999", 2, 0, {"--port needs a port number"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Result r = run(row.args);
    EXPECT_EQ(r.status, row.status) << r.err;
    std::size_t count = 0;
    for (std::size_t at = 0; (at = r.out.find("Message {", at)) != std::string::npos; ++at) ++count;
    EXPECT_EQ(count, static_cast<std::size_t>(row.messages));
    for (const std::string& text : row.err_has) EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r.err;
  }
}

// ---- the listener ----

class ListenTest : public CliTest {
 protected:
  void TearDown() override {
    if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    close(sender_);
    CliTest::TearDown();
  }

  // Starts "tul ARGS listen --port 0 ..." and waits for the port it reports.
  void start(const std::string& args) {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string command = "exec " TUL_CLI " " + args + " >" + dir_ + "/lout 2>" + dir_ + "/lerr";
      execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      _exit(127);
    }
    const std::string mark = "listening on UDP port ";
    for (int tries = 0; tries < 2000 && port_ == 0; ++tries) {
      const std::string err = slurp(dir_ + "/lerr");
      if (const auto at = err.find(mark); at != std::string::npos && err.find('\n', at) != std::string::npos)
        port_ = std::stoi(err.substr(at + mark.size()));
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(port_, 0) << slurp(dir_ + "/lerr");
  }

  void send(const std::string& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port_));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(sendto(sender_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(datagram.size()));
  }

  // Waits until the output has stopped growing, then signals the listener
  // (unless it stops by itself) and collects its result.
  Result finish(int signal) {
    for (std::size_t size = SIZE_MAX; signal && slurp(dir_ + "/lout").size() != size;) {
      size = slurp(dir_ + "/lout").size();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    if (signal) kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir_ + "/lout"), slurp(dir_ + "/lerr")};
  }

  pid_t pid_ = 0;
  int port_ = 0;
  int sender_ = socket(AF_INET, SOCK_DGRAM, 0);
};

// A datagram of no octets fails alone; one of the largest size decodes and
// is written whole; the listener stops after --count datagrams.
TEST_F(ListenTest, DecodesEachDatagramUntilItsCount) {
  start(kDefs + "listen --port 0 --count 3 --json ANY");
  const std::string large = std::string("\x04\x83\x00\xFF\xDE", 5) + std::string(65502, '\x07');
  send(slurp(kTrap));
  send("");
  send(large);
  const Result r = finish(0);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("datagram 2 from 127.0.0.1:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("3 datagrams received, 1 failed, 0 dropped by the kernel"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);
  std::string sevens;
  for (int i = 0; i < 1000; ++i) sevens += "07";
  EXPECT_NE(r.out.find(sevens), std::string::npos);
  EXPECT_EQ(r.out.back(), '\n');
}

// A flood: every datagram is decoded or counted as dropped, every line of
// output is whole, and a signal ends the run cleanly.
TEST_F(ListenTest, FloodIsDecodedOrCountedAndASignalEndsIt) {
  start(kEventDefs + "listen --port 0 --json --translate Trap-PDU");
  const std::string traps = slurp(kExamples + "traps.ber");
  const std::string trap = traps.substr(0, static_cast<std::size_t>(TUL_ber_length(traps.data(), traps.size(), nullptr)));
  const int sent = 100000;
  for (int i = 0; i < sent; ++i) send(trap);
  const Result r = finish(SIGTERM);
  EXPECT_EQ(r.status, 0) << r.err;
  unsigned long received = 0, failed = 0, dropped = 0;
  const auto at = r.err.find("datagrams received");
  ASSERT_NE(at, std::string::npos) << r.err;
  ASSERT_EQ(std::sscanf(r.err.c_str() + r.err.rfind('\n', at) + 1, "tul: %lu datagrams received, %lu failed, %lu dropped",
                        &received, &failed, &dropped), 3) << r.err;
  EXPECT_EQ(received + dropped, static_cast<unsigned long>(sent));
  EXPECT_EQ(failed, 0u);
  EXPECT_EQ(static_cast<unsigned long>(std::count(r.out.begin(), r.out.end(), '\n')), received);
  const std::string start = "{\"type\":\"AttributeList\"";
  for (std::size_t line = 0; line < r.out.size(); line = r.out.find('\n', line) + 1)
    ASSERT_EQ(r.out.compare(line, start.size(), start), 0) << r.out.substr(line, 80);
  EXPECT_EQ(dropped > 0, r.err.find("warning:") != std::string::npos);
}
