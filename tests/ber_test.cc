// The BER element layer on raw octets: identifier and length forms, the
// reader's failure codes, the writer, the element context, the content
// conversions and the trace writer. No dictionary is involved.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ber.h"
#include "support/mem.h"

namespace {

using namespace tul::ber;
using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string& text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<unsigned char>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

std::string hex_text(const unsigned char* p, int n) {
  std::string out;
  char two[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, i ? " %02X" : "%02X", p[i]);
    out += two;
  }
  return out;
}

std::string contents(const PElement* pe) { return hex_text(pe->pe_un1.un_pe_prim, pe->pe_len); }

class BerTest : public ::testing::Test {
 protected:
  void TearDown() override { tul::mem::fail_countdown = 0; }

  // Reads one element in place from `input`, which must outlive the tree.
  PElement* read(const Bytes& input, int* ps_errno = nullptr) {
    PStream ps{};
    str_open(&ps);
    str_setup(&ps, reinterpret_cast<char*>(const_cast<unsigned char*>(input.data())),
              static_cast<int>(input.size()), 1);
    ps.pe_ctx = guard.get();
    PElement* pe = ps2pe_aux(&ps, 1, 1);
    if (ps_errno) *ps_errno = ps.ps_errno;
    str_close(&ps);
    return pe;
  }

  // The encoding of `pe`, sized first; "<failed>" when writing fails.
  static std::string write(PElement* pe) {
    PStream ps{};
    str_open(&ps);
    std::string out = pe2ps_aux(&ps, pe, 1) == 0
                          ? hex_text(reinterpret_cast<unsigned char*>(ps.ps_base), ps.ps_byteno)
                          : "<failed>";
    str_close(&ps);
    return out;
  }

  static std::string trace(PElement* pe) {
    PStream ps{};
    str_open(&ps);
    std::string out = pe2pl(&ps, pe) == 0 ? std::string(ps.ps_base, static_cast<size_t>(ps.ps_byteno)) : "<failed>";
    str_close(&ps);
    return out;
  }

  ElementContextGuard guard;
  PECtx* ctx = guard.get();
};

/* ------------------------------------------------------------------------
 * Reader
 * ---------------------------------------------------------------------- */

TEST_F(BerTest, EmptyInputIsACleanEnd) {
  int err = -1;
  EXPECT_EQ(read({}, &err), nullptr);
  EXPECT_EQ(err, 0);
}

TEST_F(BerTest, IdentifierForms) {
  struct Row {
    const char* name;
    const char* input;
    int tagclass, form, id;
  } rows[] = {
      {"low tag number", "02 00", kUniversal, kPrimitive, 2},
      {"class and constructed bit", "E5 00", kPrivate, kConstructed, 5},
      {"tag 30 fits the first octet", "5E 00", kApplication, kPrimitive, 30},
      {"tag 31 needs a second octet", "9F 1F 00", kContext, kPrimitive, 31},
      {"two groups", "1F 81 7F 00", kUniversal, kPrimitive, 255},
      {"largest accepted", "1F FF 7F 00", kUniversal, kPrimitive, 16383},
      {"leading zero group accepted", "1F 80 05 00", kUniversal, kPrimitive, 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes input = hex(row.input);
    PElement* pe = read(input);
    ASSERT_NE(pe, nullptr);
    EXPECT_EQ(pe->pe_class, row.tagclass);
    EXPECT_EQ(pe->pe_form, row.form);
    EXPECT_EQ(pe->pe_id, row.id);
  }
}

TEST_F(BerTest, LengthForms) {
  struct Row {
    const char* name;
    Bytes input;
    int len;
  } rows[] = {
      {"short form", hex("04 01 AA"), 1},
      {"long form, one octet", [] { Bytes b = hex("04 81 80"); b.resize(3 + 128); return b; }(), 128},
      {"long form, non-minimal", hex("04 82 00 01 AA"), 1},
      {"zero length", hex("04 00"), 0},
      {"indefinite constructed", hex("24 80 00 00"), 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PElement* pe = read(row.input);
    ASSERT_NE(pe, nullptr);
    if (pe->pe_form == kConstructed) {
      EXPECT_EQ(pe->pe_len, -1);
      EXPECT_EQ(pe->pe_un1.un_pe_cons, nullptr);  // first child 00 00: no children
    } else {
      EXPECT_EQ(pe->pe_len, row.len);
    }
  }
}

TEST_F(BerTest, ReaderFailureCodes) {
  struct Row {
    const char* name;
    const char* input;
    int ps_errno;
  } rows[] = {
      {"third tag group overflows", "1F 81 80 00 00", kPsTagOverflow},
      {"end inside the tag number", "1F 81", kPsEndInTag},
      {"five length octets", "04 85 00 00 00 00 01", kPsLengthOverflow},
      {"length beyond 2^31 - 1", "04 84 80 00 00 00", kPsLengthOverflow},
      {"end inside a long length", "04 82 01", kPsEndInLength},
      {"no length octet", "04", kPsEndOfData},
      {"contents shorter than the length", "04 03 01 02", kPsEndOfData},
      {"indefinite primitive", "04 80 00 00", kPsIndefinitePrimitive},
      {"children overrun the parent", "30 03 02 02 01 01", kPsLengthMismatch},
      {"indefinite element without end-of-contents", "30 80 02 01 05", kPsEndOfData},
      {"child missing entirely", "30 02", kPsEndOfData},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes input = hex(row.input);
    int err = 0;
    EXPECT_EQ(read(input, &err), nullptr);
    EXPECT_EQ(err, row.ps_errno);
  }
}

TEST_F(BerTest, ReadsPrimitiveContentsInPlace) {
  Bytes input = hex("30 06 04 01 AA 04 01 BB FF FF");  // trailing octets are not examined
  PElement* pe = read(input);
  ASSERT_NE(pe, nullptr);
  PElement* first = pe->pe_un1.un_pe_cons;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->pe_un1.un_pe_prim, input.data() + 4);
  EXPECT_EQ(first->pe_inline, 1);
  ASSERT_NE(first->pe_next, nullptr);
  EXPECT_EQ(first->pe_next->pe_un1.un_pe_prim, input.data() + 7);
  EXPECT_EQ(first->pe_next->pe_next, nullptr);
}

TEST_F(BerTest, CopyingStreamOwnsContents) {
  PStream* ps = ps_alloc(str_open);
  ASSERT_NE(ps, nullptr);
  Bytes input = hex("04 02 41 42");
  ASSERT_EQ(str_setup(ps, reinterpret_cast<char*>(input.data()), static_cast<int>(input.size()), 0), 0);
  ps->pe_ctx = ctx;
  PElement* pe = ps2pe_aux(ps, 1, 1);
  ps_free(ps);
  ASSERT_NE(pe, nullptr);
  EXPECT_EQ(pe->pe_inline, 0);
  EXPECT_EQ(contents(pe), "41 42");
  pe_free(pe);
  EXPECT_EQ(pe->pe_un1.un_pe_prim, nullptr);
}

TEST_F(BerTest, TruncationAtEveryPositionFails) {
  const Bytes whole = hex("30 80 A1 0A 04 02 61 62 1F 81 00 02 05 00 24 80 04 01 63 00 00 00 00");
  ASSERT_NE(read(whole), nullptr);
  for (size_t n = 1; n < whole.size(); ++n) {
    SCOPED_TRACE(n);
    Bytes prefix(whole.begin(), whole.begin() + static_cast<long>(n));
    int err = 0;
    EXPECT_EQ(read(prefix, &err), nullptr);
    EXPECT_NE(err, 0);
  }
}

// `levels` indefinite-length SEQUENCEs around a NULL.
Bytes nested(int levels) {
  Bytes out;
  for (int i = 0; i < levels; ++i) {
    out.push_back(0x30);
    out.push_back(0x80);
  }
  out.push_back(0x05);
  out.push_back(0x00);
  for (int i = 0; i < levels; ++i) out.insert(out.end(), {0x00, 0x00});
  return out;
}

TEST_F(BerTest, NestingBeyondTheBoundIsNotBer) {
  Bytes deep_enough = nested(kMaxElementDepth);
  EXPECT_NE(read(deep_enough), nullptr);

  Bytes too_deep = nested(kMaxElementDepth + 1);
  int err = 0;
  EXPECT_EQ(read(too_deep, &err), nullptr);
  EXPECT_EQ(err, kPsTooDeep);
}

/* ------------------------------------------------------------------------
 * Writer
 * ---------------------------------------------------------------------- */

TEST_F(BerTest, WritesIdentifiers) {
  struct Row {
    const char* name;
    uint8_t tagclass, form;
    uint16_t id;
    const char* expected;
  } rows[] = {
      {"tag 30: one octet", kUniversal, kPrimitive, 30, "1E 00"},
      {"tag 31: two octets", kUniversal, kPrimitive, 31, "1F 1F 00"},
      {"tag 127", kContext, kPrimitive, 127, "9F 7F 00"},
      {"tag 128: three octets", kApplication, kConstructed, 128, "7F 81 00 00"},
      {"tag 16383", kPrivate, kPrimitive, 16383, "DF FF 7F 00"},
      {"tag 16384 still exact", kUniversal, kPrimitive, 16384, "1F 81 80 00 00"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PElement* pe = new_PE(ctx, row.tagclass, row.form, row.id);
    ASSERT_NE(pe, nullptr);
    EXPECT_EQ(write(pe), row.expected);
    EXPECT_EQ(ps_get_abs(pe), static_cast<int>(hex(row.expected).size()));
  }
}

TEST_F(BerTest, WritesLengths) {
  struct Row {
    int len;
    const char* header;
  } rows[] = {{0, "04 00"}, {127, "04 7F"}, {128, "04 81 80"}, {255, "04 81 FF"}, {256, "04 82 01 00"}, {65536, "04 83 01 00 00"}};
  std::vector<char> payload(65536, 'x');
  for (const Row& row : rows) {
    SCOPED_TRACE(row.len);
    PElement* pe = oct2prim(ctx, payload.data(), row.len);
    ASSERT_NE(pe, nullptr);
    std::string out = write(pe);
    EXPECT_EQ(out.substr(0, std::strlen(row.header)), row.header);
    EXPECT_EQ(ps_get_abs(pe), static_cast<int>(hex(row.header).size()) + row.len);
  }
}

TEST_F(BerTest, IndefiniteLengthIsWrittenBackDefinite) {
  Bytes input = hex("30 80 02 01 05 24 80 04 01 61 00 00 00 00");
  PElement* pe = read(input);
  ASSERT_NE(pe, nullptr);
  EXPECT_EQ(write(pe), "30 08 02 01 05 24 03 04 01 61");
}

TEST_F(BerTest, DefiniteEncodingsRoundTrip) {
  const char* samples[] = {
      "30 0C 02 01 05 04 03 61 62 63 05 00 30 00",
      "BF 81 00 05 1F 81 7F 01 FF",
      "61 0A A0 08 30 06 80 01 01 81 01 02",
  };
  for (const char* sample : samples) {
    SCOPED_TRACE(sample);
    Bytes input = hex(sample);
    PElement* pe = read(input);
    ASSERT_NE(pe, nullptr);
    EXPECT_EQ(write(pe), sample);
  }
}

TEST_F(BerTest, InlineConstructedIsWrittenVerbatim) {
  Bytes ready = hex("02 01 05");
  PElement* seq = new_PE(ctx, kUniversal, kConstructed, kTagSequence);
  PElement* embedded = oct2prim(ctx, reinterpret_cast<char*>(ready.data()), 3);
  embedded->pe_form = kInlineConstructed;
  seq_addon(seq, nullptr, embedded);
  EXPECT_EQ(write(seq), "30 03 02 01 05");
  EXPECT_EQ(ps_get_abs(embedded), 3);
}

TEST_F(BerTest, SeqAddonKeepsOrder) {
  PElement* seq = new_PE(ctx, kUniversal, kConstructed, kTagSequence);
  PElement* last = nullptr;
  for (int i = 1; i <= 3; ++i) {
    PElement* child = num2prim(ctx, i, kUniversal, kTagInteger);
    seq_addon(seq, last, child);
    last = child;
  }
  EXPECT_EQ(write(seq), "30 09 02 01 01 02 01 02 02 01 03");
}

TEST_F(BerTest, InlineWriteStreamStopsWhenFull) {
  char buffer[3];
  PStream ps{};
  str_open(&ps);
  str_setup(&ps, buffer, sizeof buffer, 1);
  PElement* pe = oct2prim(ctx, "abcd", 4);
  EXPECT_EQ(pe2ps_aux(&ps, pe, 0), -1);
  EXPECT_EQ(ps.ps_errno, kPsEndOfData);
  EXPECT_EQ(ps.ps_byteno, 3);
  str_close(&ps);
}

TEST_F(BerTest, GrowingStreamGrowsByRequestPlus512) {
  PStream ps{};
  str_open(&ps);
  unsigned char octets[600] = {};
  EXPECT_EQ(str_write(&ps, octets, 10, 0), 10);
  EXPECT_EQ(ps.ps_bufsiz, 522);
  EXPECT_EQ(str_write(&ps, octets, 600, 0), 600);
  EXPECT_EQ(ps.ps_bufsiz, 522 + 1112);
  EXPECT_EQ(ps.ps_cnt, 1634 - 610);
  str_close(&ps);
}

TEST_F(BerTest, StreamProcedureMissingOrAllocationFailing) {
  PStream* ps = ps_alloc(nullptr);
  ASSERT_NE(ps, nullptr);
  unsigned char octet = 0;
  EXPECT_EQ(ps_io(ps, ps->ps_readP, &octet, 1, 0), -1);
  EXPECT_EQ(ps->ps_errno, kPsEndOfData);
  EXPECT_EQ(ps_io(ps, nullptr, &octet, 0, 0), -1);
  ps_free(ps);

  PStream grow{};
  str_open(&grow);
  tul::mem::fail_countdown = 1;
  EXPECT_EQ(str_write(&grow, &octet, 1, 0), -1);
  EXPECT_EQ(grow.ps_errno, kPsNoMemory);
  str_close(&grow);
}

/* ------------------------------------------------------------------------
 * Element context
 * ---------------------------------------------------------------------- */

TEST_F(BerTest, HundredAndFirstElementComesFromTheHeap) {
  for (int i = 0; i < kChunkElements; ++i) ASSERT_NE(new_PE(ctx, 0, 0, 1), nullptr);
  EXPECT_EQ(ctx->stack_memory.next, nullptr);
  PElement* pe = new_PE(ctx, kContext, kConstructed, 7);
  ASSERT_NE(pe, nullptr);
  ASSERT_NE(ctx->stack_memory.next, nullptr);
  EXPECT_EQ(pe, &ctx->stack_memory.next->array[0]);
  EXPECT_EQ(pe->pe_class, kContext);
  EXPECT_EQ(pe->pe_id, 7);
  EXPECT_EQ(pe->pe_len, 0);
  EXPECT_EQ(pe->pe_un1.un_pe_cons, nullptr);
}

TEST_F(BerTest, FailedChunkLeavesContextUsable) {
  for (int i = 0; i < kChunkElements; ++i) ASSERT_NE(new_PE(ctx, 0, 0, 1), nullptr);
  tul::mem::fail_countdown = 1;
  EXPECT_EQ(new_PE(ctx, 0, 0, 1), nullptr);
  EXPECT_NE(new_PE(ctx, 0, 0, 1), nullptr);
}

TEST_F(BerTest, LargeDecodeSpansChunksAndFreesThem) {
  Bytes input = {0x30, 0x82, 0x01, 0x90};  // 200 NULL children
  for (int i = 0; i < 200; ++i) input.insert(input.end(), {0x05, 0x00});
  PElement* pe = read(input);
  ASSERT_NE(pe, nullptr);
  int children = 0;
  for (PElement* c = pe->pe_un1.un_pe_cons; c; c = c->pe_next) ++children;
  EXPECT_EQ(children, 200);
  EXPECT_NE(ctx->stack_memory.next, nullptr);
}

TEST_F(BerTest, OrphanedContentsAreReleasedWithTheContext) {
  // An encoder that fails half-way leaves elements that own contents but
  // hang under no root; the guard still releases them.
  EXPECT_NE(double2prim(ctx, 3.5), nullptr);
  PElement* bits = strb2bitstr(ctx, "\xA0", 3);
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(bits->pe_inline, 0);
}

/* ------------------------------------------------------------------------
 * BOOLEAN and INTEGER
 * ---------------------------------------------------------------------- */

TEST_F(BerTest, BooleanContents) {
  PElement* yes = bool2prim(ctx, 7);
  PElement* no = bool2prim(ctx, 0);
  EXPECT_EQ(contents(yes), "FF");
  EXPECT_EQ(contents(no), "00");
  EXPECT_EQ(yes->pe_un1.un_pe_prim, reinterpret_cast<unsigned char*>(&yes->pe_un2.prim_data));
  EXPECT_EQ(prim2flag(yes), 1);
  EXPECT_EQ(prim2flag(no), 0);

  Bytes input = hex("01 02 00 FF");  // only the first octet counts
  EXPECT_EQ(prim2flag(read(input)), 0);
  Bytes empty = hex("01 00");
  PElement* pe = read(empty);
  EXPECT_EQ(prim2flag(pe), -1);
  EXPECT_EQ(pe->pe_errno, kPeNotPrimitive);
}

TEST_F(BerTest, IntegerEncodingsAreShortestTwosComplement) {
  struct Row {
    int32_t value;
    const char* octets;
  } rows[] = {
      {0, "00"},          {127, "7F"},           {128, "00 80"},           {-1, "FF"},
      {-128, "80"},       {-129, "FF 7F"},       {255, "00 FF"},           {256, "01 00"},
      {-8388608, "80 00 00"}, {8388608, "00 80 00 00"}, {2147483647, "7F FF FF FF"},
      {INT32_MIN, "80 00 00 00"}, {-8388609, "FF 7F FF FF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    PElement* pe = num2prim(ctx, row.value, kUniversal, kTagInteger);
    ASSERT_NE(pe, nullptr);
    EXPECT_EQ(contents(pe), row.octets);
    EXPECT_EQ(pe->pe_inline, 1);
    EXPECT_EQ(prim2num(pe), row.value);
    EXPECT_EQ(pe->pe_errno, 0);
  }
  PElement* enumerated = num2prim(ctx, 3, kApplication, kTagEnumerated);
  EXPECT_EQ(write(enumerated), "4A 01 03");
}

TEST_F(BerTest, IntegerDecodingEdges) {
  struct Row {
    const char* name;
    const char* input;
    int32_t value;
    int pe_errno;
  } rows[] = {
      {"non-minimal positive", "02 03 00 00 05", 5, 0},
      {"non-minimal negative", "02 02 FF FF", -1, 0},
      {"four octets", "02 04 80 00 00 00", INT32_MIN, 0},
      {"five octets overflow", "02 05 01 00 00 00 00", -1, kPeOverflow},
      {"empty contents", "02 00", -1, kPeNotPrimitive},
      {"constructed", "22 03 02 01 05", -1, kPeNotPrimitive},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes input = hex(row.input);
    PElement* pe = read(input);
    ASSERT_NE(pe, nullptr);
    EXPECT_EQ(prim2num(pe), row.value);
    EXPECT_EQ(pe->pe_errno, row.pe_errno);
  }
}

/* ------------------------------------------------------------------------
 * OBJECT IDENTIFIER
 * ---------------------------------------------------------------------- */

TEST_F(BerTest, EncodeOid) {
  struct Row {
    const char* name;
    std::vector<uint32_t> arcs;
    const char* octets;  // null: fails
  } rows[] = {
      {"1.3.6.1", {1, 3, 6, 1}, "2B 06 01"},
      {"second arc above 39 under arc 2", {2, 100, 3}, "81 34 03"},
      {"2.999", {2, 999}, "88 37"},
      {"largest arc", {0, 0, 4294967295u}, "00 8F FF FF FF 7F"},
      {"zero arcs", {0, 0, 0}, "00 00"},
      {"single arc", {1}, nullptr},
      {"first arc 3", {3, 1}, nullptr},
      {"1.40", {1, 40}, nullptr},
      {"0.39 is the limit", {0, 39}, "27"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int len = -1;
    unsigned char* octets = nullptr;
    int rc = encodeOID(static_cast<int>(row.arcs.size()), row.arcs.data(), &len, &octets);
    if (!row.octets) {
      EXPECT_EQ(rc, -1);
      continue;
    }
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(hex_text(octets, len), row.octets);
    tul::mem::free(octets);
  }
}

TEST_F(BerTest, EncodeOidArcLimit) {
  std::vector<uint32_t> arcs(kMaxOidArcs + 1, 1);
  int len = 0;
  unsigned char* octets = nullptr;
  EXPECT_EQ(encodeOID(kMaxOidArcs + 1, arcs.data(), &len, &octets), -1);
  ASSERT_EQ(encodeOID(kMaxOidArcs, arcs.data(), &len, &octets), 0);
  EXPECT_EQ(len, kMaxOidArcs - 1);
  tul::mem::free(octets);
  tul::mem::fail_countdown = 1;
  EXPECT_EQ(encodeOID(2, arcs.data(), &len, &octets), -1);
}

TEST_F(BerTest, DecodeOid) {
  struct Row {
    const char* name;
    std::string input;
    std::vector<uint32_t> arcs;  // empty: fails
  } rows[] = {
      {"1.3.6.1", "06 03 2B 06 01", {1, 3, 6, 1}},
      {"first subidentifier 39", "06 01 27", {0, 39}},
      {"first subidentifier 40", "06 01 28", {1, 0}},
      {"first subidentifier 80", "06 01 50", {2, 0}},
      {"2.100.3", "06 03 81 34 03", {2, 100, 3}},
      {"largest arc", "06 06 00 8F FF FF FF 7F", {0, 0, 4294967295u}},
      {"leading 0x80", "06 02 80 01", {}},
      {"unterminated", "06 02 2B 86", {}},
      {"arc beyond 32 bits", "06 07 00 90 80 80 80 80 00", {}},
      {"empty", "06 00", {}},
      {"constructed", "26 03 06 01 2B", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes input = hex(row.input);
    PElement* pe = read(input);
    ASSERT_NE(pe, nullptr);
    uint32_t arcs[kMaxOidArcs];
    int count = -1;
    int ok = prim2oid(arcs, &count, pe);
    if (row.arcs.empty()) {
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(count, 0);
      continue;
    }
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(std::vector<uint32_t>(arcs, arcs + count), row.arcs);
  }
}

TEST_F(BerTest, DecodeOidArcLimit) {
  Bytes input = {0x06, 0x7F};
  input.insert(input.end(), kMaxOidArcs - 1, 0x01);  // 127 subidentifiers: 128 arcs
  uint32_t arcs[kMaxOidArcs];
  int count = 0;
  EXPECT_EQ(prim2oid(arcs, &count, read(input)), 1);
  EXPECT_EQ(count, kMaxOidArcs);
  Bytes longer = {0x06, 0x81, 0x80};
  longer.insert(longer.end(), kMaxOidArcs, 0x01);
  EXPECT_EQ(prim2oid(arcs, &count, read(longer)), 0);
}

/* ------------------------------------------------------------------------
 * REAL
 * ---------------------------------------------------------------------- */

TEST_F(BerTest, RealEncodings) {
  struct Row {
    double value;
    const char* octets;
  } rows[] = {
      {0.0, ""}, {HUGE_VAL, "40"}, {-HUGE_VAL, "41"}, {1.0, "80 F9 80"}, {0.5, "80 F8 80"},
      {-2.0, "C0 FA 80"}, {3.0, "80 FA C0"}, {-0.75, "C0 F8 C0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    PElement* pe = double2prim(ctx, row.value);
    ASSERT_NE(pe, nullptr);
    EXPECT_EQ(pe->pe_id, kTagReal);
    EXPECT_EQ(contents(pe), row.octets);
    EXPECT_EQ(prim2real(pe), row.value);
    EXPECT_EQ(pe->pe_errno, 0);
  }
  EXPECT_EQ(double2prim(ctx, std::nan("")), nullptr);
}

TEST_F(BerTest, RealRoundTripsExactly) {
  const double values[] = {DBL_MAX, -DBL_MAX, DBL_MIN, 4.9406564584124654e-324, 0.1, -3.141592653589793, 1e-300, 65536.0};
  for (double value : values) {
    SCOPED_TRACE(value);
    PElement* pe = double2prim(ctx, value);
    ASSERT_NE(pe, nullptr);
    EXPECT_EQ(prim2real(pe), value);
  }
}

TEST_F(BerTest, RealDecodingForms) {
  struct Row {
    const char* name;
    const char* input;
    double value;
    int pe_errno;
  } rows[] = {
      {"empty is zero", "09 00", 0.0, 0},
      {"plus infinity", "09 01 40", HUGE_VAL, 0},
      {"minus infinity", "09 01 41", -HUGE_VAL, 0},
      {"other special value", "09 01 42", -1.0, kPeUnsupportedReal},
      {"special value too long", "09 02 40 00", -1.0, kPeOverflow},
      {"decimal form", "09 02 01 31", -1.0, kPeUnsupportedReal},
      {"base 8", "09 03 90 01 01", 8.0, 0},
      {"base 16", "09 03 A0 01 01", 16.0, 0},
      {"reserved base", "09 03 B0 01 01", -1.0, kPeUnsupportedReal},
      {"scaling factor", "09 03 8C 00 01", 8.0, 0},
      {"two-octet exponent", "09 04 81 FF F9 80", 1.0, 0},
      {"explicit exponent length", "09 04 83 01 F9 80", 1.0, 0},
      {"exponent length above 4", "09 03 83 05 00", -1.0, kPeOverflow},
      {"exponent cut short", "09 02 82 00", -1.0, kPeUnsupportedReal},
      {"more than 10 octets", "09 0B 80 00 01 01 01 01 01 01 01 01 01", -1.0, kPeOverflow},
      {"huge exponent saturates", "09 07 A3 04 7F FF FF FF 01", HUGE_VAL, 0},
      {"tiny exponent gives zero", "09 07 A3 04 80 00 00 00 01", 0.0, 0},
      {"constructed", "29 00", -1.0, kPeNotPrimitive},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes input = hex(row.input);
    PElement* pe = read(input);
    ASSERT_NE(pe, nullptr);
    EXPECT_EQ(prim2real(pe), row.value);
    EXPECT_EQ(pe->pe_errno, row.pe_errno);
  }
}

/* ------------------------------------------------------------------------
 * OCTET STRING
 * ---------------------------------------------------------------------- */

TEST_F(BerTest, OctetElementPointsAtTheCallersOctets) {
  const char text[] = "hello";
  PElement* pe = oct2prim(ctx, text, 5);
  ASSERT_NE(pe, nullptr);
  EXPECT_EQ(pe->pe_un1.un_pe_prim, reinterpret_cast<const unsigned char*>(text));
  EXPECT_EQ(pe->pe_inline, 1);
  EXPECT_EQ(write(pe), "04 05 68 65 6C 6C 6F");
}

TEST_F(BerTest, StringContents) {
  struct Row {
    const char* name;
    const char* input;
    const char* text;  // null: fails
    int len;
  } rows[] = {
      {"primitive with a NUL inside", "04 03 61 00 63", "a\0c", 3},
      {"empty primitive", "04 00", "", 0},
      {"constructed without segments", "24 00", "", 0},
      {"two segments", "24 08 04 02 61 62 04 02 63 64", "abcd", 4},
      {"segments of the string's own tag", "36 06 16 01 61 16 01 62", "ab", 2},
      {"mixed own tag and OCTET STRING", "36 06 16 01 61 04 01 62", "ab", 2},
      {"nested segments", "24 80 24 80 04 01 61 00 00 04 01 62 00 00", "ab", 2},
      {"segment tagged INTEGER", "24 06 04 01 61 02 01 05", nullptr, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes input = hex(row.input);
    PElement* pe = read(input);
    ASSERT_NE(pe, nullptr);
    int len = -1;
    char* s = prim2str(pe, &len);
    if (!row.text) {
      EXPECT_EQ(s, nullptr);
      EXPECT_EQ(len, 0);
      EXPECT_EQ(pe->pe_errno, kPeForeignSegment);
      continue;
    }
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(len, row.len);
    EXPECT_EQ(std::memcmp(s, row.text, static_cast<size_t>(row.len)), 0);
    EXPECT_EQ(s[len], '\0');
    tul::mem::free(s);
  }
}

TEST_F(BerTest, StringContentsAllocationFailure) {
  Bytes input = hex("04 01 61");
  PElement* pe = read(input);
  tul::mem::fail_countdown = 1;
  int len = -1;
  EXPECT_EQ(prim2str(pe, &len), nullptr);
  EXPECT_EQ(pe->pe_errno, kPeNoMemory);
}

/* ------------------------------------------------------------------------
 * BIT STRING
 * ---------------------------------------------------------------------- */

TEST_F(BerTest, BitStringEncodings) {
  struct Row {
    const char* name;
    Bytes packed;
    int bits;
    const char* encoding;
  } rows[] = {
      {"empty", {}, 0, "03 01 00"},
      {"one bit set", {0x80}, 1, "03 02 07 80"},
      {"ten bits", {0xFF, 0xC0}, 10, "03 03 06 FF C0"},
      {"eight bits", {0xA5}, 8, "03 02 00 A5"},
      {"garbage in unused bits is dropped", {0xFF}, 3, "03 02 05 E0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PElement* pe = strb2bitstr(ctx, reinterpret_cast<const char*>(row.packed.data()), row.bits);
    ASSERT_NE(pe, nullptr);
    ASSERT_EQ(bit2prim(pe), pe);
    EXPECT_EQ(write(pe), row.encoding);
  }
}

TEST_F(BerTest, BitStringDecoding) {
  struct Row {
    const char* name;
    const char* input;
    int bits;  // -1: fails
    Bytes packed;
  } rows[] = {
      {"ten bits", "03 03 06 FF C0", 10, {0xFF, 0xC0}},
      {"unused bits are not copied", "03 02 04 FF", 4, {0xF0}},
      {"empty with unused count", "03 01 00", 0, {}},
      {"no contents at all", "03 00", 0, {}},
      {"unused count 8", "03 01 08", -1, {}},
      {"unused bits with no data", "03 01 03", -1, {}},
      {"segments of 3 and 5 bits", "23 08 03 02 05 A0 03 02 03 F8", 8, {0xBF}},
      {"segments of 4 and 12 bits", "23 09 03 02 04 50 03 03 04 AB C0", 16, {0x5A, 0xBC}},
      {"bad segment fails all", "23 07 03 02 00 FF 03 01 09", -1, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes input = hex(row.input);
    PElement* pe = read(input);
    ASSERT_NE(pe, nullptr);
    if (row.bits < 0) {
      EXPECT_EQ(prim2bit(pe), nullptr);
      EXPECT_EQ(pe->pe_errno, kPeBadUnusedBits);
      continue;
    }
    ASSERT_EQ(prim2bit(pe), pe);
    EXPECT_EQ(pe->pe_un2.numberbits, row.bits);
    int k = -1;
    char* packed = bitstr2strb(ctx, pe, &k);
    ASSERT_NE(packed, nullptr);
    EXPECT_EQ(k, row.bits);
    EXPECT_EQ(hex_text(reinterpret_cast<unsigned char*>(packed), static_cast<int>(row.packed.size())),
              hex_text(row.packed.data(), static_cast<int>(row.packed.size())));
    for (int i = 0; i < k; ++i) {
      bool set = row.packed[static_cast<size_t>(i / 8)] & (0x80 >> (i % 8));
      EXPECT_EQ(bit_test(ctx, pe, i), set ? 1 : 0) << "bit " << i;
    }
    EXPECT_EQ(bit_test(ctx, pe, k), -1);
    EXPECT_EQ(pe->pe_errno, kPeBitNotPresent);
    tul::mem::free(packed);
  }
}

TEST_F(BerTest, BitOnExtendsAndCopiesUnownedContents) {
  Bytes input = hex("03 02 07 80");
  PElement* pe = read(input);
  ASSERT_EQ(prim2bit(pe), pe);
  ASSERT_EQ(pe->pe_inline, 1);
  EXPECT_EQ(bit_on(ctx, pe, 12), 0);
  EXPECT_EQ(pe->pe_inline, 0);
  EXPECT_EQ(pe->pe_un2.numberbits, 13);
  EXPECT_EQ(input[3], 0x80);  // the input itself is untouched
  EXPECT_EQ(bit_test(ctx, pe, 0), 1);
  EXPECT_EQ(bit_test(ctx, pe, 12), 1);
  EXPECT_EQ(bit_off(ctx, pe, 0), 0);
  EXPECT_EQ(bit_test(ctx, pe, 0), 0);
  ASSERT_EQ(bit2prim(pe), pe);
  EXPECT_EQ(contents(pe), "03 00 08");
  EXPECT_EQ(bit_on(ctx, pe, -1), -1);
  EXPECT_EQ(pe->pe_errno, kPeBitNotPresent);
}

TEST_F(BerTest, BitStringAllocationFailures) {
  for (long n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    tul::mem::fail_countdown = n;
    PElement* pe = strb2bitstr(ctx, "\xFF\xFF", 16);
    bool failed = tul::mem::fail_countdown == 0;
    tul::mem::fail_countdown = 0;
    if (failed) {
      EXPECT_EQ(pe, nullptr);
    } else {
      ASSERT_NE(pe, nullptr);
      EXPECT_EQ(write(pe), "03 03 00 FF FF");  // unused count not finished yet
    }
  }
}

/* ------------------------------------------------------------------------
 * Trace
 * ---------------------------------------------------------------------- */

TEST_F(BerTest, TraceLayout) {
  struct Row {
    const char* name;
    const char* input;
    const char* expected;
  } rows[] = {
      {"sequence with children", "30 08 02 01 05 04 03 61 62 63",
       "-- ( UNIV SEQ\n"
       "--     ( UNIV INT 0x1\n"
       "--         0x05\n"
       "--     )\n"
       "--     ( UNIV OCTS 0x3\n"
       "--         \"abc\"\n"
       "--     )\n"
       "-- )\n"},
      {"empty sequence", "30 00", "-- ( UNIV SEQ )\n"},
      {"null", "05 00", "-- ( UNIV NULL 0x0 -- )\n"},
      {"application primitive", "43 01 07", "-- ( APPL 0x3 0x1\n--     0x07\n-- )\n"},
      {"universal tag without a name", "0C 01 41", "-- ( UNIV 0xc 0x1\n--     0x41\n-- )\n"},
      {"universal tag above 28", "1F 1F 00", "-- ( UNIV 0x1f 0x0 -- )\n"},
      {"line feed forces hexadecimal", "04 03 61 62 0A", "-- ( UNIV OCTS 0x3\n--     0x61620a\n-- )\n"},
      {"nine octets in three lines, text and hex mixed", "16 09 61 62 63 64 22 65 66 67 68",
       "-- ( UNIV IA5S 0x9\n--     \"abcd\"\n--     0x22656667\n--     \"h\"\n-- )\n"},
      {"integers never show as text", "02 01 41", "-- ( UNIV INT 0x1\n--     0x41\n-- )\n"},
      {"context constructed", "A1 00", "-- ( CONT 0x1 )\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes input = hex(row.input);
    PElement* pe = read(input);
    ASSERT_NE(pe, nullptr);
    EXPECT_EQ(trace(pe), row.expected);
  }
}

TEST_F(BerTest, TraceOfTheDeepestTreeStaysWithinItsLines) {
  Bytes deep = nested(kMaxElementDepth);
  PElement* tree = read(deep);
  ASSERT_NE(tree, nullptr);
  std::string text = trace(tree);
  ASSERT_NE(text, "<failed>");
  size_t longest = 0, start = 0;
  for (size_t at = text.find('\n'); at != std::string::npos; start = at + 1, at = text.find('\n', start))
    longest = std::max(longest, at - start);
  EXPECT_LT(longest, 512u);
}

}  // namespace
