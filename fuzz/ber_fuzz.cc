// Feeds arbitrary octets to the BER element reader, the record framing of
// TUL_ber_length and TUL_decode (and where a failed decode stopped). The
// reader's tree is written back, read again, traced and run through every
// content conversion; each decoded value is printed (also as JSON), encoded,
// decoded again and must equal itself. One dictionary, made on first use, holds a few
// recursive user types with tags, ANY, ANY DEFINED BY (through a registered
// attribute), CHOICE, SET and SEQUENCE OF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ber.h"
#include "definitions.h"
#include "tul.h"

namespace {

using namespace tul::ber;
using tul::fuzz::define;
using tul::fuzz::kExplicit;
using tul::fuzz::kImplicit;
using tul::fuzz::member;

TUL_Metadata* make_dictionary() {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_set_option(TUL_OPTION_BER_ANNOTATED, 1);
  TUL_Metadata* md = TUL_new_Metadata();
  if (!md) std::abort();
  TUL_Asn1Type rec[] = {
      member("id", "OBJECT IDENTIFIER"),
      member("v", "ANY DEFINED BY", 0, 0, "id"),
      member("n", "INTEGER", kImplicit, 0),
      member("kids", "Recs", kExplicit, 1),
      member("pick", "Pick"),
      member("bits", "BIT STRING"),
      member("r", "REAL"),
      member("s", "IA5String"),
      member("e", "ENUMERATED", kImplicit, 2),
  };
  define(md, "Rec", "SEQUENCE", sizeof rec / sizeof rec[0], rec);
  TUL_Asn1Type recs[] = {member(nullptr, "Rec")};
  define(md, "Recs", "SEQUENCE OF", 1, recs);
  TUL_Asn1Type pick[] = {member("b", "BOOLEAN"), member("o", "OCTET STRING", kImplicit, 3),
                         member("c", "Pick", kExplicit, 4), member("z", "NULL", kImplicit, 5)};
  define(md, "Pick", "CHOICE", sizeof pick / sizeof pick[0], pick);
  TUL_Asn1Type bag[] = {member("a", "INTEGER", kImplicit, 0), member("t", "ANY", kExplicit, 1),
                        member("id", "OBJECT IDENTIFIER", kImplicit, 2), member("p", "Pick")};
  define(md, "Bag", "SET", sizeof bag / sizeof bag[0], bag);
  TUL_Asn1Type anys[] = {member(nullptr, "ANY")};
  define(md, "Anys", "SET OF", 1, anys);
  define(md, "Tagged", "INTEGER", 0, nullptr, TUL_TAG_APPLICATION | TUL_TAG_EXPLICIT, 2);
  define(md, "Wrapped", "ANY", 0, nullptr, kExplicit, 5);

  TUL_AttributeEntry attribute{};
  attribute.name = const_cast<char*>("2 9 1");
  attribute.entry_type = TUL_ENTRY_ATTRIBUTE;
  attribute.label = const_cast<char*>("fuzzAttribute");
  attribute.syntax = const_cast<char*>("Rec");
  _TUL_add_definition(md, reinterpret_cast<TUL_Entry*>(&attribute), nullptr);
  return md;
}

constexpr const char* kTypes[] = {
    "INTEGER", "BOOLEAN", "OCTET STRING", "BIT STRING", "OBJECT IDENTIFIER", "REAL", "NULL", "ENUMERATED",
    "PrintableString", "ANY", "Rec", "Recs", "Pick", "Bag", "Anys", "Tagged", "Wrapped", "EXTERNAL",
};

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// Every conversion on every element of the tree; none may fail unsafely.
void convert_all(PECtx* ctx, PElement* pe, int depth) {
  for (; pe; pe = pe->pe_next) {
    int len = 0;
    if (char* s = prim2str(pe, &len)) {
      check(s[len] == '\0');
      std::free(s);
    }
    if (pe->pe_form == kConstructed) {
      if (prim2bit(pe)) std::free(bitstr2strb(ctx, pe, &len));
      if (depth < 8) convert_all(ctx, pe->pe_un1.un_pe_cons, depth + 1);
      continue;
    }
    prim2num(pe);
    prim2flag(pe);
    prim2real(pe);
    uint32_t arcs[kMaxOidArcs];
    int count = 0;
    if (prim2oid(arcs, &count, pe)) {
      unsigned char* octets = nullptr;
      int octets_len = 0;
      // The arcs of a valid encoding encode back to the same contents.
      check(encodeOID(count, arcs, &octets_len, &octets) == 0);
      check(octets_len == pe->pe_len && std::memcmp(octets, pe->pe_un1.un_pe_prim, static_cast<size_t>(octets_len)) == 0);
      std::free(octets);
    }
    if (prim2bit(pe)) {
      int bits = 0;
      char* packed = bitstr2strb(ctx, pe, &bits);
      if (packed && bits > 0) {
        check(bit_test(ctx, pe, bits - 1) >= 0);
        check(bit_test(ctx, pe, bits) == -1);
      }
      std::free(packed);
    }
  }
}

void exercise_reader(const uint8_t* data, size_t size) {
  ElementContextGuard guard;
  PStream in{};
  str_open(&in);
  str_setup(&in, reinterpret_cast<char*>(const_cast<uint8_t*>(data)), static_cast<int>(size), 1);
  in.pe_ctx = guard.get();
  PElement* pe = ps2pe_aux(&in, 1, 1);
  str_close(&in);
  if (!pe) return;

  PStream out{};
  str_open(&out);
  int total = ps_get_abs(pe);
  if (total >= 0 && pe2ps_aux(&out, pe, 0) == 0) {
    check(out.ps_byteno == total);
    // What the writer produced reads back and writes out identically.
    ElementContextGuard again;
    PStream reread{};
    str_open(&reread);
    str_setup(&reread, out.ps_base, out.ps_byteno, 1);
    reread.pe_ctx = again.get();
    PElement* copy = ps2pe_aux(&reread, 1, 1);
    check(copy != nullptr);
    PStream second{};
    str_open(&second);
    check(pe2ps_aux(&second, copy, 1) == 0);
    check(second.ps_byteno == out.ps_byteno && std::memcmp(second.ps_base, out.ps_base, static_cast<size_t>(out.ps_byteno)) == 0);
    str_close(&second);
    str_close(&reread);
  }
  str_close(&out);

  PStream trace{};
  str_open(&trace);
  pe2pl(&trace, pe);
  str_close(&trace);

  convert_all(guard.get(), pe, 0);
}

void exercise_decoders(TUL_Metadata* md, const uint8_t* data, size_t size) {
  TUL_Object* ber = TUL_new("BER-String", md, static_cast<int>(size), reinterpret_cast<const char*>(data));
  if (!ber || ber->error) std::abort();
  std::free(TUL_print2str(ber));  // with the trace option on
  for (const char* type : kTypes) {
    TUL_Object* value = TUL_decode(type, ber, md);
    if (!value) continue;
    if (value->error) {
      TUL_free(value);
      // Where it stopped lies within the record.
      const TUL_DecodeFailure* failure = TUL_last_decode_failure();
      check(!failure || (failure->path && failure->offset < static_cast<long>(size)));
      continue;
    }
    std::free(TUL_print2str(value));
    std::free(TUL_print_json_string(value));
    TUL_Object* encoded = TUL_encode(value);
    check(encoded != nullptr && encoded->error == 0);
    TUL_Object* back = TUL_decode(type, encoded, md);
    check(back != nullptr && back->error == 0);
    check(TUL_equal(value, back) != 0);
    TUL_free(back);
    TUL_free(encoded);
    TUL_free(value);
  }
  TUL_free(ber);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TUL_Metadata* md = make_dictionary();
  if (size > (1u << 20)) return 0;
  exercise_reader(data, size);
  // The framing of streamed records: a length within the input, or none.
  const char* problem = nullptr;
  const long length = TUL_ber_length(data, static_cast<long>(size), &problem);
  check(length == -1 ? problem != nullptr : length > 0 && length <= static_cast<long>(size));
  // Inputs of odd size decode with wide integers, so both widths are covered.
  TUL_set_wide_integers(static_cast<int>(size & 1));
  exercise_decoders(md, data, size);
  return 0;
}
