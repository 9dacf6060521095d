// The BER layer on its own (reading a tree in place, sizing and writing it)
// and the driver's fixed costs on the smallest values (one INTEGER) and on a
// string large enough to take the heap-buffer path. Items are runs; bytes
// are BER octets.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "ber.h"
#include "tul.h"

namespace {

using namespace tul::ber;

// A SEQUENCE of `count` small SEQUENCEs of an INTEGER, an OCTET STRING and
// an OBJECT IDENTIFIER, in definite lengths.
std::vector<unsigned char> sample_encoding(int count) {
  const unsigned char item[] = {0x30, 0x10, 0x02, 0x02, 0x01, 0x2C, 0x04, 0x05, 'h', 'e',
                                'l',  'l',  'o',  0x06, 0x03, 0x2B, 0x06, 0x01};
  std::vector<unsigned char> body;
  for (int i = 0; i < count; ++i) body.insert(body.end(), item, item + sizeof item);
  std::vector<unsigned char> out(4 + body.size());
  out[0] = 0x30;
  out[1] = 0x82;
  out[2] = static_cast<unsigned char>(body.size() >> 8);
  out[3] = static_cast<unsigned char>(body.size() & 0xFF);
  std::copy(body.begin(), body.end(), out.begin() + 4);
  return out;
}

PElement* read_in_place(PECtx* ctx, std::vector<unsigned char>& octets) {
  PStream ps{};
  str_open(&ps);
  str_setup(&ps, reinterpret_cast<char*>(octets.data()), static_cast<int>(octets.size()), 1);
  ps.pe_ctx = ctx;
  PElement* pe = ps2pe_aux(&ps, 1, 1);
  str_close(&ps);
  return pe;
}

void BM_ReadTreeInPlace(benchmark::State& state) {
  std::vector<unsigned char> octets = sample_encoding(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ElementContextGuard guard;
    benchmark::DoNotOptimize(read_in_place(guard.get(), octets));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * octets.size()));
}
BENCHMARK(BM_ReadTreeInPlace)->Arg(5)->Arg(50);

void BM_SizeAndWriteTree(benchmark::State& state) {
  std::vector<unsigned char> octets = sample_encoding(static_cast<int>(state.range(0)));
  ElementContextGuard guard;
  PElement* pe = read_in_place(guard.get(), octets);
  std::vector<char> buffer(octets.size());
  for (auto _ : state) {
    PStream ps{};
    str_open(&ps);
    str_setup(&ps, buffer.data(), static_cast<int>(buffer.size()), 1);
    benchmark::DoNotOptimize(pe2ps_aux(&ps, pe, 1));
    str_close(&ps);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * octets.size()));
}
BENCHMARK(BM_SizeAndWriteTree)->Arg(5)->Arg(50);

struct Dictionary {
  Dictionary() { md = TUL_new_Metadata(); }
  ~Dictionary() {
    TUL_free_Metadata(md);
    TUL_free_unique_strings();
  }
  TUL_Metadata* md;
};

void BM_EncodeInteger(benchmark::State& state) {
  Dictionary d;
  TUL_Object* value = TUL_new("INTEGER", d.md, 300);
  for (auto _ : state) TUL_free(TUL_encode(value));
  TUL_free(value);
}
BENCHMARK(BM_EncodeInteger);

void BM_DecodeInteger(benchmark::State& state) {
  Dictionary d;
  TUL_Object* ber = TUL_new("BER-String", d.md, 4, "\x02\x02\x01\x2C");
  char* type = TUL_unique_string("INTEGER");
  for (auto _ : state) TUL_free(TUL_decode_US(type, ber, d.md));
  TUL_free(ber);
}
BENCHMARK(BM_DecodeInteger);

void BM_EncodeOctets(benchmark::State& state) {
  Dictionary d;
  std::string octets(static_cast<size_t>(state.range(0)), 'x');
  TUL_Object* value = TUL_new("OCTET STRING", d.md, static_cast<int>(octets.size()), octets.data());
  for (auto _ : state) TUL_free(TUL_encode(value));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * octets.size()));
  TUL_free(value);
}
BENCHMARK(BM_EncodeOctets)->Arg(1000)->Arg(1020)->Arg(16384);

}  // namespace
