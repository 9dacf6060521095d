// The BER element layer on raw octets: identifier and length forms, the
// reader's failure codes, the writer, the element context, the content
// conversions and the trace writer. No dictionary is involved.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "ber.h"
#include "mem.h"
#include "support/type_builder.h"

namespace {

using namespace tul::ber;
using tul::test::repeated;
using Bytes = std::vector<unsigned char>;

// "30 03 02 01 05" as octets; blanks between pairs are skipped.
Bytes hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] != ' ') out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i++, 2), nullptr, 16)));
  return out;
}

// `levels` indefinite-length SEQUENCEs around a NULL.
Bytes nested(int levels) { return hex(repeated("30 80 ", levels) + "05 00" + repeated(" 00 00", levels)); }

// "class form tag length", with "[children]" for a constructed element.
std::string shape(const PElement* pe) {
  std::string out = std::to_string(pe->pe_class) + " " + std::to_string(pe->pe_form) + " " +
                    std::to_string(pe->pe_id) + " " + std::to_string(pe->pe_len);
  if (pe->pe_form != kConstructed) return out;
  int children = 0;
  for (const PElement* c = pe->pe_un1.un_pe_cons; c; c = c->pe_next) ++children;
  return out + " [" + std::to_string(children) + "]";
}

// What the content reader of the element's tag makes of it, as text:
// a number, dotted arcs, the bits as 0s and 1s, or the octets themselves;
// "error N" with the element's pe_errno when the reader fails (the
// OBJECT IDENTIFIER reader sets none). Other tags give the shape.
std::string converted(PECtx* ctx, PElement* pe) {
  std::string out;
  bool ok = true;
  switch (pe->pe_id) {
    case kTagBoolean: out = std::to_string(prim2flag(pe)), ok = out != "-1"; break;
    case kTagInteger:
    case kTagEnumerated: out = std::to_string(prim2num(pe)), ok = pe->pe_errno == 0; break;
    case kTagReal:
      out.resize(32);
      out.resize(static_cast<size_t>(std::snprintf(out.data(), out.size(), "%.17g", prim2real(pe))));
      ok = pe->pe_errno == 0;
      break;
    case kTagObjectIdentifier: {
      uint32_t arcs[kMaxOidArcs];
      int count = -1;
      ok = prim2oid(arcs, &count, pe) == 1;
      EXPECT_EQ(count == 0, !ok);
      for (int i = 0; i < count; ++i) out += (i ? "." : "") + std::to_string(arcs[i]);
      break;
    }
    case kTagBitString: {
      int k = -1;
      char* packed = prim2bit(pe) ? bitstr2strb(ctx, pe, &k) : nullptr;
      ok = packed != nullptr;
      for (int i = 0; i < (k + 8) / 8 * 8; ++i) {  // bits past k must not be copied
        bool set = packed[i / 8] & (0x80 >> (i % 8));
        out += i < k ? (set ? "1" : "0") : set ? "!" : "";
        EXPECT_EQ(bit_test(ctx, pe, i), i < k ? set : -1) << "bit " << i;
      }
      tul::mem::free(packed);
      break;
    }
    case kTagOctetString:
    case 22: {  // IA5String
      int len = -1;
      char* s = prim2str(pe, &len);
      ok = s && s[len] == '\0';
      if (s) out.assign(s, static_cast<size_t>(len));
      tul::mem::free(s);
      break;
    }
    default: return shape(pe);
  }
  return ok ? out : "error " + std::to_string(pe->pe_errno);
}

class BerTest : public ::testing::Test {
 protected:
  void TearDown() override { tul::mem::fail_countdown = 0; }

  // Reads one element from `input`, in place (then `input` must outlive
  // the tree) or into owned contents.
  PElement* read(const Bytes& input, int* ps_errno = nullptr, int in_place = 1) {
    PStream* ps = ps_alloc(str_open);
    str_setup(ps, reinterpret_cast<char*>(const_cast<unsigned char*>(input.data())),
              static_cast<int>(input.size()), in_place);
    ps->pe_ctx = ctx;
    PElement* pe = ps2pe_aux(ps, 1, 1);
    if (ps_errno) *ps_errno = ps->ps_errno;
    ps_free(ps);
    return pe;
  }

  // What reading `input` in place gives: see converted(), or the stream's error.
  std::string decoded(const Bytes& input) {
    int err = -1;
    PElement* pe = read(input, &err);
    return pe ? converted(ctx, pe) : "ps_errno " + std::to_string(err);
  }

  // The encoding of `pe` (sized first) as hex, or its trace as text;
  // "<failed>" when writing fails.
  static std::string write(PElement* pe, bool as_trace = false) {
    PStream ps{};
    str_open(&ps);
    bool failed = (as_trace ? pe2pl(&ps, pe) : pe2ps_aux(&ps, pe, 1)) != 0;
    std::string out = as_trace ? std::string(ps.ps_base, static_cast<size_t>(ps.ps_byteno)) : "";
    char two[4];
    for (int i = 0; !as_trace && i < ps.ps_byteno; ++i) {
      std::snprintf(two, sizeof two, i ? " %02X" : "%02X", static_cast<unsigned char>(ps.ps_base[i]));
      out += two;
    }
    str_close(&ps);
    return failed ? "<failed>" : out;
  }

  ElementContextGuard guard;
  PECtx* ctx = guard.get();
};

// ---- Reader ----

TEST_F(BerTest, Reading) {
  struct Row {
    const char* name;
    Bytes input;
    const char* expected;
  } rows[] = {
      {"class and constructed bit", hex("E5 00"), "3 1 5 0 [0]"},
      {"leading zero tag group accepted", hex("1F 80 05 00"), "0 0 5 0"},
      {"long length, non-minimal", hex("04 82 00 01 61"), "a"},
      {"indefinite, first child end-of-contents", hex("30 80 00 00"), "0 1 16 -1 [0]"},
      {"trailing octets are not examined", hex("30 06 04 01 AA 04 01 BB FF FF"), "0 1 16 6 [2]"},
      {"as deep as the bound", nested(kMaxElementDepth), "0 1 16 -1 [1]"},
      {"empty input is a clean end", {}, "ps_errno 0"},
      {"end inside the tag number", hex("1F 81"), "ps_errno 5"},
      {"length beyond 2^31 - 1", hex("04 84 80 00 00 00"), "ps_errno 2"},
      {"end inside a long length", hex("04 82 01"), "ps_errno 6"},
      {"contents shorter than the length", hex("04 03 01 02"), "ps_errno 4"},
      {"indefinite primitive", hex("04 80 00 00"), "ps_errno 9"},
      {"children overrun the parent", hex("30 03 02 02 01 01"), "ps_errno 7"},
      {"indefinite element without end-of-contents", hex("30 80 02 01 05"), "ps_errno 4"},
      {"nested deeper than the bound", nested(kMaxElementDepth + 1), "ps_errno 10"},
      {"boolean: only the first octet counts", hex("01 02 00 FF"), "0"},
      {"boolean without contents", hex("01 00"), "error 7"},
      {"integer: non-minimal positive", hex("02 03 00 00 05"), "5"},
      {"integer: non-minimal negative", hex("02 02 FF FF"), "-1"},
      {"integer without contents", hex("02 00"), "error 7"},
      {"integer constructed", hex("22 03 02 01 05"), "error 7"},
      {"real: special value too long", hex("09 02 40 00"), "error 1"},
      {"real: decimal form", hex("09 02 01 31"), "error 12"},
      {"real: base 8", hex("09 03 90 01 01"), "8"},
      {"real: base 16", hex("09 03 A0 01 01"), "16"},
      {"real: reserved base", hex("09 03 B0 01 01"), "error 12"},
      {"real: scaling factor", hex("09 03 8C 00 01"), "8"},
      {"real: explicit exponent length", hex("09 04 83 01 F9 80"), "1"},
      {"real: exponent length above 4", hex("09 03 83 05 00"), "error 1"},
      {"real: exponent cut short", hex("09 02 82 00"), "error 12"},
      {"real: more than 10 octets", hex("09 0B 80 00 01 01 01 01 01 01 01 01 01"), "error 1"},
      {"real: huge exponent saturates", hex("09 07 A3 04 7F FF FF FF 01"), "inf"},
      {"real: tiny exponent gives zero", hex("09 07 A3 04 80 00 00 00 01"), "0"},
      {"real constructed", hex("29 00"), "error 7"},
      {"oid: arc beyond 32 bits", hex("06 07 00 90 80 80 80 80 00"), "error 0"},
      {"oid: one arc more than the limit", hex("06 81 80" + repeated(" 01", kMaxOidArcs)), "error 0"},
      {"oid constructed", hex("26 03 06 01 2B"), "error 0"},
      {"constructed without segments", hex("24 00"), ""},
      {"segments of the own tag and OCTET STRING", hex("36 06 16 01 61 04 01 62"), "ab"},
      {"nested segments", hex("24 80 24 80 04 01 61 00 00 04 01 62 00 00"), "ab"},
      {"segment tagged INTEGER", hex("24 06 04 01 61 02 01 05"), "error 9"},
      {"bits: unused bits are not copied", hex("03 02 04 FF"), "1111"},
      {"bits: no contents at all", hex("03 00"), ""},
      {"bits: unused count 8", hex("03 01 08"), "error 11"},
      {"bits: segments of 4 and 12 bits", hex("23 09 03 02 04 50 03 03 04 AB C0"), "0101101010111100"},
      {"bits: a bad segment fails all", hex("23 07 03 02 00 FF 03 01 09"), "error 11"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(decoded(row.input), row.expected);
  }
  const Bytes whole = hex("30 80 A1 0A 04 02 61 62 1F 81 00 02 05 00 24 80 04 01 63 00 00 00 00");
  ASSERT_NE(read(whole), nullptr);
  for (size_t n = 1; n < whole.size(); ++n) {  // every truncation fails
    SCOPED_TRACE(n);
    int err = 0;
    EXPECT_EQ(read(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)), &err), nullptr);
    EXPECT_NE(err, 0);
  }
  PElement* pe = read(whole);
  tul::mem::fail_countdown = 1;  // copying the contents out
  EXPECT_EQ(converted(ctx, pe->pe_un1.un_pe_cons->pe_un1.un_pe_cons), "error 2");
}

// A caller's buffer is read in place and never written to: changing the
// bits of an element read in place copies its contents first. Contents read
// from a stream that owns its buffer do not depend on the caller's octets.
TEST_F(BerTest, ContentsInPlaceOrOwned) {
  Bytes input = hex("30 0A 04 01 AA 04 01 BB 03 02 07 80");
  PElement* first = read(input)->pe_un1.un_pe_cons;
  EXPECT_EQ(first->pe_un1.un_pe_prim[0], 0xAA);
  EXPECT_EQ(first->pe_next->pe_un1.un_pe_prim[0], 0xBB);
  EXPECT_EQ(first->pe_inline, 1);
  PElement* bits = first->pe_next->pe_next;
  ASSERT_EQ(prim2bit(bits), bits);
  EXPECT_EQ(bit_on(ctx, bits, 12), 0);
  EXPECT_EQ(bits->pe_inline, 0);
  EXPECT_EQ(input[11], 0x80);
  EXPECT_EQ(bit_off(ctx, bits, 0), 0);
  ASSERT_EQ(bit2prim(bits), bits);
  EXPECT_EQ(converted(ctx, bits), "0000000000001");
  EXPECT_EQ(write(bits), "03 03 03 00 08");
  EXPECT_EQ(bit_on(ctx, bits, -1), -1);
  EXPECT_EQ(bits->pe_errno, kPeBitNotPresent);
  PElement* pe = read(input, nullptr, 0);  // owned contents
  first = pe->pe_un1.un_pe_cons;
  EXPECT_EQ(first->pe_inline, 0);
  input[4] = 0xCC;
  EXPECT_EQ(first->pe_un1.un_pe_prim[0], 0xAA);
  pe_free(pe);
}

TEST_F(BerTest, StreamLimitsAndFailures) {
  char buffer[3];
  PStream full{};
  str_open(&full);
  str_setup(&full, buffer, sizeof buffer, 1);  // a caller's buffer never grows
  EXPECT_EQ(pe2ps_aux(&full, oct2prim(ctx, "abcd", 4), 0), -1);
  EXPECT_EQ(full.ps_errno, kPsEndOfData);
  EXPECT_EQ(full.ps_byteno, 3);
  str_close(&full);

  PStream* bare = ps_alloc(nullptr);
  unsigned char octet = 0;
  EXPECT_EQ(ps_io(bare, bare->ps_readP, &octet, 1, 0), -1);
  EXPECT_EQ(bare->ps_errno, kPsEndOfData);
  ps_free(bare);

  PStream grow{};
  str_open(&grow);
  unsigned char more[600] = {};
  for (int n : {1, 600}) {  // the first write allocates, the second enlarges
    tul::mem::fail_countdown = 1;
    EXPECT_EQ(str_write(&grow, more, n, 0), -1);
    EXPECT_EQ(grow.ps_errno, kPsNoMemory);
    tul::mem::fail_countdown = 0;
    EXPECT_EQ(str_write(&grow, more, n, 0), n);
  }
  EXPECT_EQ(grow.ps_bufsiz, (1 + 512) + (600 + 512));  // each time by the request plus 512
  EXPECT_EQ(grow.ps_cnt, grow.ps_bufsiz - 601);
  str_close(&grow);
}

// ---- Content conversions ----

// Each element is written, then read back.
TEST_F(BerTest, Encodings) {
  const std::string payload(256, 'x');
  auto tag = [&](uint8_t tagclass, uint16_t id) { return new_PE(ctx, tagclass, kPrimitive, id); };
  auto octets = [&](int len) { return oct2prim(ctx, payload.data(), len); };
  auto integer = [&](int32_t v) { return num2prim(ctx, v, kUniversal, kTagInteger); };
  auto real = [&](double d) { return double2prim(ctx, d); };
  auto bits = [&](const char* packed, int n) { return bit2prim(strb2bitstr(ctx, packed, n)); };
  auto oid = [&](std::vector<uint32_t> arcs) -> PElement* {  // the guard releases the octets
    PElement* pe = new_PE(ctx, kUniversal, kPrimitive, kTagObjectIdentifier);
    return encodeOID(static_cast<int>(arcs.size()), arcs.data(), &pe->pe_len, &pe->pe_un1.un_pe_prim) ? nullptr : pe;
  };
  Bytes indefinite = hex("30 80 02 01 05 24 80 04 01 61 00 00 00 00");
  Bytes ready = hex("02 01 05");
  PElement* seq = new_PE(ctx, kUniversal, kConstructed, kTagSequence);
  PElement* embedded = oct2prim(ctx, reinterpret_cast<char*>(ready.data()), 3);
  embedded->pe_form = kInlineConstructed;
  seq_addon(seq, nullptr, integer(1));
  seq_addon(seq, seq->pe_un1.un_pe_cons, embedded);
  const char hi[] = "hi";
  PElement* text = oct2prim(ctx, hi, 2);
  struct Row {
    const char* name;
    PElement* pe;
    std::string encoding;  // "fails": building fails; "": too long to spell out
    std::string value;     // what reading the encoding back gives
  } rows[] = {
      {"tag 30: one identifier octet", tag(kUniversal, 30), "1E 00", "0 0 30 0"},
      {"tag 31: two octets", tag(kUniversal, 31), "1F 1F 00", "0 0 31 0"},
      {"tag 127", tag(kContext, 127), "9F 7F 00", "2 0 127 0"},
      {"tag 128: three octets", new_PE(ctx, kApplication, kConstructed, 128), "7F 81 00 00", "1 1 128 0 [0]"},
      {"tag 16383", tag(kPrivate, 16383), "DF FF 7F 00", "3 0 16383 0"},
      {"tag 16384 still exact", tag(kUniversal, 16384), "1F 81 80 00 00", "ps_errno 1"},
      {"length 127: short form", octets(127), "04 7F" + repeated(" 78", 127), repeated("x", 127)},
      {"length 128: long form", octets(128), "04 81 80" + repeated(" 78", 128), repeated("x", 128)},
      {"length 256: two octets", octets(256), "04 82 01 00" + repeated(" 78", 256), repeated("x", 256)},
      {"indefinite read is written definite", read(indefinite), "30 08 02 01 05 24 03 04 01 61", "0 1 16 8 [2]"},
      {"children in order, a ready encoding verbatim", seq, "30 06 02 01 01 02 01 05", "0 1 16 6 [2]"},
      {"octets", text, "04 02 68 69", "hi"},
      {"true is FF", bool2prim(ctx, 7), "01 01 FF", "1"},
      {"enumerated takes the caller's tag", num2prim(ctx, 3, kApplication, kTagEnumerated), "4A 01 03", "3"},
      {"-128: one octet", integer(-128), "02 01 80", "-128"},
      {"-8388608: three octets", integer(-8388608), "02 03 80 00 00", "-8388608"},
      {"8388608: four octets", integer(8388608), "02 04 00 80 00 00", "8388608"},
      {"-8388609: four octets", integer(-8388609), "02 04 FF 7F FF FF", "-8388609"},
      {"largest double: two-octet exponent", real(DBL_MAX), "09 0A 81 03 C8 FF FF FF FF FF FF F8",
       "1.7976931348623157e+308"},
      {"smallest normal double: exponent -1029", real(-DBL_MIN), "09 04 C1 FB FB 80", "-2.2250738585072014e-308"},
      {"subnormal double", real(4.9406564584124654e-324), "09 04 81 FB C7 80", "4.9406564584124654e-324"},
      {"0.1: seven mantissa octets", real(0.1), "09 09 80 C5 CC CC CC CC CC CC D0", "0.10000000000000001"},
      {"not a number", real(std::nan("")), "fails", ""},
      {"0.39 is the last under arc 0", oid({0, 39}), "06 01 27", "0.39"},
      {"2.0 starts at 80", oid({2, 0}), "06 01 50", "2.0"},
      {"as many arcs as the limit", oid(std::vector<uint32_t>(kMaxOidArcs, 1)), "", "1" + repeated(".1", 127)},
      {"single arc", oid({1}), "fails", ""},
      {"first arc 3", oid({3, 1}), "fails", ""},
      {"1.40", oid({1, 40}), "fails", ""},
      {"more arcs than the limit", oid(std::vector<uint32_t>(kMaxOidArcs + 1, 1)), "fails", ""},
      {"eight bits", bits("\xA5", 8), "03 02 00 A5", "10100101"},
      {"garbage in unused bits is dropped", bits("\xFF", 3), "03 02 05 E0", "111"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(row.pe == nullptr, row.encoding == "fails");
    if (!row.pe) continue;
    std::string written = write(row.pe);
    if (!row.encoding.empty()) {
      EXPECT_EQ(written, row.encoding);
    }
    Bytes back = hex(written);
    EXPECT_EQ(ps_get_abs(row.pe), static_cast<int>(back.size()));
    EXPECT_EQ(decoded(back), row.value);
  }
  EXPECT_EQ(text->pe_inline, 1);  // the caller's text, not a copy
  for (long n = 1; n <= 3; ++n) {  // every allocation building a BIT STRING
    tul::mem::fail_countdown = n;
    PElement* pe = strb2bitstr(ctx, "\xFF\xFF", 16);
    EXPECT_EQ(pe == nullptr, tul::mem::fail_countdown == 0) << n;
    tul::mem::fail_countdown = 0;
  }
}

// ---- Trace ----

TEST_F(BerTest, TraceLayout) {
  struct Row {
    const char* name;
    Bytes input;
    const char* expected;
  } rows[] = {
      {"empty sequence", hex("30 00"), "-- ( UNIV SEQ )\n"},
      {"null", hex("05 00"), "-- ( UNIV NULL 0x0 -- )\n"},
      {"application primitive", hex("43 01 07"), "-- ( APPL 0x3 0x1\n--     0x07\n-- )\n"},
      {"universal tag without a name", hex("0C 01 41"), "-- ( UNIV 0xc 0x1\n--     0x41\n-- )\n"},
      {"universal tag above 28", hex("1F 1F 00"), "-- ( UNIV 0x1f 0x0 -- )\n"},
      {"line feed forces hexadecimal", hex("04 03 61 62 0A"), "-- ( UNIV OCTS 0x3\n--     0x61620a\n-- )\n"},
      {"nine octets in three lines, text and hex mixed", hex("16 09 61 62 63 64 22 65 66 67 68"),
       "-- ( UNIV IA5S 0x9\n--     \"abcd\"\n--     0x22656667\n--     \"h\"\n-- )\n"},
      {"integers never show as text", hex("02 01 41"), "-- ( UNIV INT 0x1\n--     0x41\n-- )\n"},
      {"nested, empty constructed child", hex("A1 02 A2 00"), "-- ( CONT 0x1\n--     ( CONT 0x2 )\n-- )\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(write(read(row.input), true), row.expected);
  }
  // The deepest tree: every line stays within its 512-octet buffer.
  std::istringstream text(write(read(nested(kMaxElementDepth)), true));
  int lines = 0;
  for (std::string line; std::getline(text, line); ++lines) ASSERT_LT(line.size(), 512u);
  EXPECT_GT(lines, kMaxElementDepth);
}

}  // namespace
