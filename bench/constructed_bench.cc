// Decode, encode, parse and print of a realistic nested value: an SNMPv1 trap
// message with ten variable bindings, whose types are entered straight into
// the dictionary. Items are whole messages; bytes are BER octets (decode,
// encode) or value-notation characters (parse, print).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/type_builder.h"
#include "tul.h"

namespace {

using tul::test::define_type;

constexpr int32_t kApplicationImplicit = TUL_TAG_APPLICATION | TUL_TAG_IMPLICIT;

void define_snmp_types(TUL_Metadata* md) {
  define_type(md, "IpAddress", "OCTET STRING", {}, kApplicationImplicit, 0);
  define_type(md, "Counter", "INTEGER", {}, kApplicationImplicit, 1);
  define_type(md, "Gauge", "INTEGER", {}, kApplicationImplicit, 2);
  define_type(md, "TimeTicks", "INTEGER", {}, kApplicationImplicit, 3);
  define_type(md, "NetworkAddress", "CHOICE", {{"internet", "IpAddress"}});
  define_type(md, "ObjectSyntax", "CHOICE",
              {{"number", "INTEGER"},
               {"string", "OCTET STRING"},
               {"object", "OBJECT IDENTIFIER"},
               {"empty", "NULL"},
               {"address", "NetworkAddress"},
               {"counter", "Counter"},
               {"gauge", "Gauge"},
               {"ticks", "TimeTicks"}});
  define_type(md, "VarBind", "SEQUENCE", {{"name", "OBJECT IDENTIFIER"}, {"value", "ObjectSyntax"}});
  define_type(md, "VarBindList", "SEQUENCE OF", {{nullptr, "VarBind"}});
  define_type(md, "Trap-PDU", "SEQUENCE",
              {{"enterprise", "OBJECT IDENTIFIER"},
               {"agent-addr", "NetworkAddress"},
               {"generic-trap", "INTEGER"},
               {"specific-trap", "INTEGER"},
               {"time-stamp", "TimeTicks"},
               {"variable-bindings", "VarBindList"}},
              TUL_TAG_CONTEXT | TUL_TAG_IMPLICIT, 4);
  define_type(md, "Message", "SEQUENCE",
              {{"version", "INTEGER"}, {"community", "OCTET STRING"}, {"data", "Trap-PDU"}});
}

constexpr const char* kTrap = R"(Message {
  version 0,
  community "public",
  data {
    enterprise { 1 3 6 1 4 1 9 1 516 },
    agent-addr internet : 'C0A80A01'H,
    generic-trap 6,
    specific-trap 1003,
    time-stamp 81234567,
    variable-bindings {
      { name { 1 3 6 1 2 1 1 3 0 }, value ticks : 81234567 },
      { name { 1 3 6 1 2 1 1 5 0 }, value string : "core-router-07.example" },
      { name { 1 3 6 1 2 1 2 2 1 1 12 }, value number : 12 },
      { name { 1 3 6 1 2 1 2 2 1 2 12 }, value string : "GigabitEthernet0/12" },
      { name { 1 3 6 1 2 1 2 2 1 8 12 }, value number : 2 },
      { name { 1 3 6 1 2 1 2 2 1 10 12 }, value counter : 1876543210 },
      { name { 1 3 6 1 2 1 2 2 1 16 12 }, value counter : 987654321 },
      { name { 1 3 6 1 2 1 2 2 1 5 12 }, value gauge : 1000000000 },
      { name { 1 3 6 1 4 1 9 2 2 1 1 20 12 }, value object : { 1 3 6 1 4 1 9 9 41 } },
      { name { 1 3 6 1 4 1 9 9 41 1 2 3 1 5 7 }, value address : internet : 'C0A80A02'H }
    }
  }
})";

// One dictionary with the trap value, its encoding and its printed text,
// built once for all benchmarks of the program.
struct Fixture {
  TUL_Metadata* md = nullptr;
  TUL_Object* value = nullptr;
  TUL_Object* ber = nullptr;
  std::string text;

  Fixture() {
    md = TUL_new_Metadata();
    define_snmp_types(md);
    value = TUL_parse_str(md, kTrap);
    if (!value || value->error) fail("parse", value);
    ber = TUL_encode(value);
    if (!ber || ber->error) fail("encode", ber);
    char* printed = TUL_print2str(value);
    text = printed;
    std::free(printed);
  }
  ~Fixture() {
    TUL_free(ber);
    TUL_free(value);
    TUL_free_Metadata(md);
    TUL_free_unique_strings();
  }
  [[noreturn]] static void fail(const char* step, TUL_Object* error) {
    std::fprintf(stderr, "trap %s failed: %s\n", step, error ? TUL_read_str(error) : "(null)");
    std::exit(1);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void count(benchmark::State& state, size_t bytes_per_item) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes_per_item));
}

void BM_DecodeTrap(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    TUL_Object* v = TUL_decode("Message", f.ber, f.md);
    benchmark::DoNotOptimize(v);
    TUL_free(v);
  }
  count(state, TUL_size(f.ber));
}
BENCHMARK(BM_DecodeTrap);

void BM_EncodeTrap(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    TUL_Object* ber = TUL_encode(f.value);
    benchmark::DoNotOptimize(ber);
    TUL_free(ber);
  }
  count(state, TUL_size(f.ber));
}
BENCHMARK(BM_EncodeTrap);

void BM_ParseTrap(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    TUL_Object* v = TUL_parse_str(f.md, f.text.c_str());
    benchmark::DoNotOptimize(v);
    TUL_free(v);
  }
  count(state, f.text.size());
}
BENCHMARK(BM_ParseTrap);

void BM_PrintTrap(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    char* text = TUL_print2str(f.value);
    benchmark::DoNotOptimize(text);
    std::free(text);
  }
  count(state, f.text.size());
}
BENCHMARK(BM_PrintTrap);

// Copy, equality and hash walk the same tree without any codec.
void BM_CopyEqualHashTrap(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    TUL_Object* copy = TUL_copy(f.value);
    benchmark::DoNotOptimize(TUL_equal(copy, f.value) + TUL_hash(copy));
    TUL_free(copy);
  }
  count(state, TUL_size(f.ber));
}
BENCHMARK(BM_CopyEqualHashTrap);

}  // namespace
