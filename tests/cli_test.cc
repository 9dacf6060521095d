// Tests of the tul program: runs the built binary on the bundled examples and
// on broken inputs, and checks its output, its messages and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kTul = TUL_CLI;
const std::string kExamples = std::string(TUL_EXAMPLES) + "/";
const std::string kDefs = "--defs " + kExamples + "snmpv1.defs ";
const std::string kAllDefs = kDefs + "--defs " + kExamples + "mib2.defs ";

struct Result {
  int status;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
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
    const std::string err = dir_ + "/stderr";
    Result r{-1, {}, {}};
    FILE* pipe = popen((kTul + " " + args + " 2>" + err).c_str(), "r");
    if (!pipe) return r;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) r.out.append(chunk, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = slurp(err);
    return r;
  }

  std::string dir_;
};

TEST_F(CliTest, DecodesTheSampleTrapAsItsValueNotationPrints) {
  const Result decoded = run(kDefs + "decode Message " + kExamples + "trap.ber");
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(decoded.err, "");
  for (const char* part : {"data trap : {", "agent-addr internet : 'C000020A'H",
                           "generic-trap linkDown", "value application-wide : counter : 3456789"})
    EXPECT_NE(decoded.out.find(part), std::string::npos) << part;
  EXPECT_EQ(decoded.out, run(kDefs + "print " + kExamples + "trap.txt").out);
}

// The bundled encodings must stay those of the bundled value texts, and all
// three ways of feeding a decode must agree.
TEST_F(CliTest, SamplesMatchTheirTextsInEveryInputForm) {
  for (const std::string sample : {"trap", "get"}) {
    SCOPED_TRACE(sample);
    const std::string base = kExamples + sample;
    EXPECT_EQ(run(kDefs + "encode " + base + ".txt").out, slurp(base + ".ber"));
    EXPECT_EQ(run(kDefs + "encode --hex " + base + ".txt").out, slurp(base + ".hex"));
    const Result raw = run(kDefs + "decode Message " + base + ".ber");
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(run(kDefs + "decode --hex Message " + base + ".hex").out, raw.out);
    EXPECT_EQ(run(kDefs + "decode Message - < " + base + ".ber").out, raw.out);
  }
  const std::string both = run(kDefs + "decode Message " + kExamples + "get.ber").out;
  EXPECT_EQ(count(both, "Message {"), 2u);
  EXPECT_LT(both.find("get-request"), both.find("get-response"));
}

TEST_F(CliTest, DecodedTextEncodesBackToTheSameOctets) {
  const std::string text =
      file("get.txt", run(kAllDefs + "--oid-labels decode Message " + kExamples + "get.ber").out);
  EXPECT_EQ(run(kAllDefs + "encode " + text).out, slurp(kExamples + "get.ber"));
}

TEST_F(CliTest, DescriptionsReadBackAsDefinitions) {
  const Result described = run(kDefs + "describe Trap-PDU");
  ASSERT_EQ(described.status, 0);
  EXPECT_NE(described.out.find("tagModifier implicit"), std::string::npos);
  EXPECT_EQ(run("--defs " + file("trap.defs", described.out) + " describe Trap-PDU").out,
            described.out);
  EXPECT_NE(run(kDefs + "describe --final GetRequest-PDU").out.find("name \"request-id\""),
            std::string::npos);
  EXPECT_EQ(run("describe INTEGER").out, "-- INTEGER is a built-in type without a description\n");
}

TEST_F(CliTest, TypesListsEveryTypeInOrder) {
  const Result r = run(kDefs + "types");
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> names;
  for (std::size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
    names.push_back(r.out.substr(at, end - at));
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  for (const char* name : {"INTEGER", "ANY DEFINED BY", "TUL.Asn1", "Trap-PDU", "VarBindList"})
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
}

TEST_F(CliTest, OutcomesOfGoodAndBadInput) {
  const std::string get = slurp(kExamples + "get.ber");
  const std::string trap = slurp(kExamples + "trap.ber");
  struct Row {
    const char* name;
    std::string args;
    int status;
    std::string out_has;
    std::string err_has;
    std::size_t messages;  // "Message {" lines expected on standard output
  };
  const Row rows[] = {
      {"registered identifiers are annotated by default",
       kAllDefs + "decode Message " + kExamples + "get.ber", 0,
       "name {1 3 6 1 2 1 1 1 0} -- sysDescr.0 --", "", 2},
      {"oid-labels prints the label first",
       kAllDefs + "--oid-labels decode Message " + kExamples + "trap.ber", 0,
       "enterprise exampleAgent -- {1 3 6 1 4 1 32473 1} --", "", 1},
      {"trace-ber annotates ANY values", "--trace-ber decode ANY " + kExamples + "get.ber", 0,
       "-- ( UNIV SEQ\n--     ( UNIV INT 0x1", "", 0},
      {"indefinite lengths frame nested records",
       "decode --hex ANY " + file("indef.hex", "3080 020105 3080 0000 0000\n3003020107\n"), 0,
       "ANY '30050201053000'H\nANY '3003020107'H\n", "", 0},
      {"comments alone are no value", "print " + file("empty.txt", "-- nothing -- \n\n-- here\n"),
       0, "", "", 0},
      {"a second record cut short keeps the first",
       kDefs + "decode Message " + file("cut.ber", get.substr(0, 100)), 1, "get-request",
       "cut.ber: record 2 at offset 55: #17 decode error", 1},
      {"garbage after a record", kDefs + "decode Message " + file("junk.ber", trap + "\x30"), 1, "",
       "record 2 at offset 205: #17 decode error: 'octets are not BER (X.209) encoded' in an "
       "object from type 'BER-String' (length octets missing)",
       1},
      {"end-of-contents missing", "decode --hex ANY " + file("open.hex", "3080 020105"), 1, "",
       "record 1 at offset 0: #17", 0},
      {"encoding of another type", kDefs + "decode INTEGER " + kExamples + "trap.ber", 1, "",
       "'wrong encoding or data overflow' in an object from type 'INTEGER'", 0},
      {"no hexadecimal digit", "decode --hex ANY " + file("bad.hex", "3003\n020g07\n"), 1, "",
       "bad.hex:2: 'g' is not a hexadecimal digit", 0},
      {"odd hexadecimal digits", "decode --hex ANY " + file("odd.hex", "300"), 1, "", "odd number",
       0},
      {"missing file", "decode ANY " + dir_ + "/absent.ber", 1, "", "cannot open", 0},
      {"parse error names the line", "print " + file("bad.txt", "INTEGER 5\n\nINTEGER x\n"), 1,
       "INTEGER 5\n",
       "bad.txt:3: #11 parse error: invalid INTEGER/ENUMERATED identifier, line: 3, last token: x",
       0},
      {"value cut short", "print " + file("short.txt", "BOOLEAN TRUE\nSEQUENCE OF {\n"), 1,
       "BOOLEAN TRUE", "short.txt:2: #20 EOF detected while parsing", 0},
      {"mandatory member absent",
       kDefs + "encode " + file("half.txt", "Message { version 0, community ''H }"), 1, "",
       "half.txt:1: cannot encode the Message value: #16 encode error: the member 'data'", 0},
      {"definitions file holding another value",
       "--defs " + file("x.defs", "\n INTEGER 3") + " types", 1, "",
       "x.defs:2: #13 invalid definition (ASN.1 or GDMO) provided (a value of type INTEGER)", 0},
      {"definitions file that does not parse",
       "--defs " + file("y.defs", "TUL.Asn1 { name 'A', typ 'B' }") + " types", 1, "",
       "y.defs:1: #11 parse error", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Result r = run(row.args);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_NE(r.out.find(row.out_has), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(row.err_has), std::string::npos) << r.err;
    if (row.err_has.empty()) {
      EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(count(r.out, "Message {"), row.messages);
  }
}

TEST_F(CliTest, HelpAndUsageErrors) {
  struct Row {
    std::string args;
    int status;
    const char* out_has;  // help text, on standard output
    const char* err_has;  // usage error, on standard error
  };
  const Row rows[] = {
      {"--help", 0, "Usage: tul [OPTIONS] COMMAND [ARGUMENTS]", ""},
      {"help", 0, "Exit status: 0 on success", ""},
      {"decode -h", 0, "Usage: tul [OPTIONS] decode [--hex] TYPE [FILE]", ""},
      {"help encode", 0, "encode [--hex] [FILE]", ""},
      {"print --help", 0, "print [FILE]", ""},
      {"--help types", 0, "types\n", ""},
      {"describe --help", 0, "With --final", ""},
      {"", 2, "", "tul: no command given\nTry 'tul --help'."},
      {"frobnicate", 2, "", "unknown command 'frobnicate'"},
      {"help frobnicate", 2, "", "unknown command 'frobnicate'"},
      {"--frob types", 2, "", "unknown option '--frob'"},
      {"types --defs", 2, "", "option --defs needs a file name"},
      {"decode", 2, "", "decode: missing argument\nTry 'tul decode --help'."},
      {"types extra", 2, "", "unexpected argument 'extra'"},
      {"print --hex", 2, "", "option --hex does not apply to print"},
      {"decode Nope x", 2, "", "no type 'Nope' in the dictionary"},
      {"describe Nope", 2, "", "no type 'Nope' in the dictionary"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const Result r = run(row.args);
    EXPECT_EQ(r.status, row.status);
    EXPECT_NE(r.out.find(row.out_has), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(row.err_has), std::string::npos) << r.err;
    EXPECT_EQ(row.status == 0 ? r.err : r.out, "");
  }
}

}  // namespace
