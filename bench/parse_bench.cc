// The value-notation hot paths below the types: the tokenizer over a long
// mixed text, and printing into a text that grows as it is written. Bytes
// are characters of value notation.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "parse.h"
#include "tul.h"

namespace {

// About 64 KB of every token kind, comments and line breaks included.
std::string mixed_text() {
  std::string text;
  while (text.size() < 64 * 1024) {
    text += "{ name-1 Upper.Name , -12.5e+3 : 'ABCD'H '0101'B -- note --\n";
    text += "\"quoted \\\"text\\\" \\x41\" 'single' 42 }\n";
  }
  return text;
}

void BM_Tokenize(benchmark::State& state) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Metadata* md = TUL_new_Metadata();
  const std::string text = mixed_text();
  int64_t tokens = 0;
  for (auto _ : state) {
    TULP_ParseContext ctx;
    const char* cursor = text.c_str();
    tul::parse::start_run(&ctx, md, &cursor, tul::parse::_get_next_char, 1);
    while (!ctx.error) {
      ++tokens;
      TULP_get_token(&ctx);
    }
    TUL_free(ctx.error);  // the end of input
  }
  state.SetItemsProcessed(tokens);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
}
BENCHMARK(BM_Tokenize);

// A character string of `range(0)` bytes: parsed from text (one long string
// token), printed back to a text that grows step by step.
void BM_LongString(benchmark::State& state) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Metadata* md = TUL_new_Metadata();
  const std::string text = "IA5String \"" + std::string(static_cast<size_t>(state.range(0)), 'x') + "\"";
  for (auto _ : state) {
    TUL_Object* obj = TUL_parse_str(md, text.c_str());
    char* printed = TUL_print2str(obj);
    benchmark::DoNotOptimize(printed);
    std::free(printed);
    TUL_free(obj);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()) * 2);
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
}
BENCHMARK(BM_LongString)->Arg(100)->Arg(5000);

// Printing to memory must stay linear: a decoded OCTET STRING of
// `range(0)` bytes (printed as hex, twice its size), and a SEQUENCE OF
// INTEGER of `range(0)` elements.
void BM_PrintLargeOctets(benchmark::State& state) {
  TUL_Metadata* md = TUL_new_Metadata();
  const std::string octets(static_cast<size_t>(state.range(0)), '\x5A');
  TUL_Object* obj = TUL_new("OCTET STRING", md, static_cast<int>(octets.size()), octets.data());
  for (auto _ : state) {
    char* printed = TUL_print2str(obj);
    benchmark::DoNotOptimize(printed);
    std::free(printed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 2);
  TUL_free(obj);
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
}
BENCHMARK(BM_PrintLargeOctets)->RangeMultiplier(4)->Range(256 << 10, 8 << 20)->Unit(benchmark::kMillisecond);

void BM_PrintLongList(benchmark::State& state) {
  TUL_Metadata* md = TUL_new_Metadata();
  std::string text = "TUL.Asn1 { name 'Numbers', type 'SEQUENCE OF', fields { { type 'INTEGER' } } }";
  char* defs[] = {text.data(), nullptr};
  TUL_load_Metadata_string(md, defs);
  TUL_Object* list = TUL_new("Numbers", md, 0);
  for (int64_t i = 0; i < state.range(0); ++i) TUL_append(list, TUL_new("INTEGER", md, static_cast<int>(i)));
  for (auto _ : state) {
    char* printed = TUL_print2str(list);
    benchmark::DoNotOptimize(printed);
    std::free(printed);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  TUL_free(list);
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
}
BENCHMARK(BM_PrintLongList)->RangeMultiplier(10)->Range(10000, 1000000)->Unit(benchmark::kMillisecond);

}  // namespace
