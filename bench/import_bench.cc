// Importing a generated module of 10,000 lines: the blocks mix what real
// network-management modules hold (tagged SEQUENCEs with optional members,
// CHOICEs, named numbers, inline SET OF, OBJECT IDENTIFIER values), so the
// rate in lines per second covers scanning, parsing, resolving and entering.
#include <benchmark/benchmark.h>

#include <string>

#include "tul.h"

namespace {

constexpr int kLines = 10000;

// One block is 12 lines.
std::string block(int n) {
  const std::string k = std::to_string(n);
  return "arc" + k + " OBJECT IDENTIFIER ::= { iso member-body 840 " + k + " }\n"
         "Choice" + k + " ::= CHOICE {\n"
         "    global [0] OBJECT IDENTIFIER,\n"
         "    local  [1] INTEGER }\n"
         "Record" + k + " ::= [APPLICATION " + std::to_string(n % 30) + "] SEQUENCE {\n"
         "    id        Choice" + k + ",\n"
         "    severity  ENUMERATED { cleared(1), minor(2), major(3) },\n"
         "    count     [2] INTEGER (0..65535) OPTIONAL,\n"
         "    names     [3] SET OF PrintableString,\n"
         "    info      [4] ANY DEFINED BY id OPTIONAL,\n"
         "    flag      BOOLEAN DEFAULT FALSE }\n"
         "Alias" + k + " ::= Record" + k + "\n";
}

std::string generated_module() {
  std::string text = "Generated DEFINITIONS IMPLICIT TAGS ::= BEGIN\n";
  for (int n = 0; n < (kLines - 2) / 12; ++n) text += block(n);
  return text + "END\n";
}

void BM_ImportModule(benchmark::State& state) {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  const std::string text = generated_module();
  int lines = 0;
  for (char c : text) lines += c == '\n';
  for (auto _ : state) {
    state.PauseTiming();
    TUL_Metadata* md = TUL_new_Metadata();
    state.ResumeTiming();
    TUL_ImportResult* r = TUL_import_string(md, "generated.asn", text.data(), text.size(), 0);
    if (!r || r->errors) state.SkipWithError("import failed");
    TUL_free_import_result(r);
    state.PauseTiming();
    TUL_free_Metadata(md);
    state.ResumeTiming();
  }
  TUL_free_unique_strings();
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ImportModule)->Unit(benchmark::kMillisecond);

}  // namespace
