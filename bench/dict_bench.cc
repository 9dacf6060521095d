// Dictionary start-up and the lookups every operation pays for: creating and
// releasing a dictionary, interning names, finding type entries.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "dtd.h"
#include "tul.h"

namespace {

// On the start-up path of every application.
void BM_NewAndFreeMetadata(benchmark::State& state) {
  for (auto _ : state) {
    TUL_Metadata* md = TUL_new_Metadata();
    benchmark::DoNotOptimize(md);
    TUL_free_Metadata(md);
  }
  TUL_free_unique_strings();
}
BENCHMARK(BM_NewAndFreeMetadata)->Unit(benchmark::kMicrosecond);

void BM_InternKnownName(benchmark::State& state) {
  TUL_Metadata* md = TUL_new_Metadata();
  for (auto _ : state) benchmark::DoNotOptimize(TUL_unique_string("TUL.AttributeGroupsInPackageList"));
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
}
BENCHMARK(BM_InternKnownName);

void BM_FindType(benchmark::State& state) {
  TUL_Metadata* md = TUL_new_Metadata();
  std::vector<char*> names;
  for (const char* n : {"INTEGER", "TUL.Asn1", "PrintableString", "TUL.PropertyList", "EXTERNAL"})
    names.push_back(TUL_unique_string(n));
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(tul::find_type(md, names[i++ % names.size()]));
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
}
BENCHMARK(BM_FindType);

void BM_NewAndFreeInteger(benchmark::State& state) {
  TUL_Metadata* md = TUL_new_Metadata();
  char* type = TUL_unique_string("INTEGER");
  for (auto _ : state) TUL_free(TUL_new_US(type, md, 42));
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
}
BENCHMARK(BM_NewAndFreeInteger);

}  // namespace
