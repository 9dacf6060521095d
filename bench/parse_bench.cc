// The value-notation hot paths below the types: the tokenizer over a long
// mixed text, and printing into a text that grows in 512-byte steps. Bytes
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

}  // namespace
