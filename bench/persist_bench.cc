// Persistence files against value notation: storing and loading a dictionary
// of 10,000 types and 1,000 templates, and entering the same definitions
// from their value-notation texts. Each load includes creating and freeing
// the dictionary it fills.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tul.h"

namespace {

constexpr int kTypes = 10000;
constexpr int kTemplates = 1000;

// A mix of tagged aliases, enumerations and sequences that refer to earlier
// types, and attributes and notifications naming them.
std::vector<std::string> definition_texts() {
  std::vector<std::string> texts;
  for (int i = 0; i < kTypes; ++i) {
    std::string n = "T" + std::to_string(i);
    switch (i % 3) {
      case 0:
        texts.push_back("TUL.Asn1 { name '" + n + "', type 'INTEGER', tagClass application, tagValue " +
                        std::to_string(i % 30) + ", tagModifier implicit }");
        break;
      case 1:
        texts.push_back("TUL.Asn1 { name '" + n + "', type 'ENUMERATED', enums { { label 'up', value 1 }," +
                        " { label 'down', value 2 } } }");
        break;
      default:
        texts.push_back("TUL.Asn1 { name '" + n + "', type 'SEQUENCE', fields { { name 'id', type 'T" +
                        std::to_string(i - 2) + "' }, { name 'state', type 'T" + std::to_string(i - 1) +
                        "', existence optional }, { name 'text', type 'OCTET STRING', tagValue 0 } } }");
    }
  }
  for (int i = 0; i < kTemplates; ++i) {
    std::string reg = "'2 9 " + std::to_string(i) + "'";
    if (i % 2)
      texts.push_back("TUL.Attribute { registration " + reg + ", label 'attr" + std::to_string(i) +
                      "', derivedOrSyntax syntax : 'T" + std::to_string(i) + "' }");
    else
      texts.push_back("TUL.Notification { registration " + reg + ", label 'note" + std::to_string(i) +
                      "', information { syntax 'T" + std::to_string(i) +
                      "', andAttributeIds { { field 'f', attribute 'attr" + std::to_string(i + 1) + "' } } } }");
  }
  return texts;
}

// The definition texts and the null-terminated array that
// TUL_load_Metadata_string takes.
struct Definitions {
  std::vector<std::string> texts = definition_texts();
  std::vector<char*> array;
  Definitions() {
    for (std::string& t : texts) array.push_back(t.data());
    array.push_back(nullptr);
  }
  TUL_Metadata* new_dictionary() {
    TUL_Metadata* md = TUL_new_Metadata();
    TUL_load_Metadata_string(md, array.data());
    return md;
  }
};

// What a load entered, so a text that fails to parse cannot make a run
// look fast.
void entered(benchmark::State& state, TUL_Metadata* md) {
  state.counters["types"] = TUL_number_asn1_def(md);
  state.counters["templates"] = TUL_number_attributes(md) + TUL_number_notifications(md);
}

const std::string& file_path() {
  static const std::string path = "/tmp/tul-persist-bench-" + std::to_string(getpid()) + ".per";
  return path;
}

void BM_EnterFromValueNotation(benchmark::State& state) {
  Definitions definitions;
  for (auto _ : state) {
    TUL_Metadata* md = definitions.new_dictionary();
    entered(state, md);
    TUL_free_Metadata(md);
  }
  TUL_free_unique_strings();
}
BENCHMARK(BM_EnterFromValueNotation)->Unit(benchmark::kMillisecond);

void BM_Store(benchmark::State& state) {
  TUL_Metadata* md = Definitions().new_dictionary();
  for (auto _ : state) TUL_store_Metadata(md, file_path().c_str());
  struct stat st;
  if (stat(file_path().c_str(), &st) == 0) state.counters["file_bytes"] = static_cast<double>(st.st_size);
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
}
BENCHMARK(BM_Store)->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state) {
  TUL_Metadata* source = Definitions().new_dictionary();
  TUL_store_Metadata(source, file_path().c_str());
  TUL_free_Metadata(source);
  for (auto _ : state) {
    TUL_Metadata* md = TUL_new_Metadata();
    TUL_load_Metadata(md, file_path().c_str());
    entered(state, md);
    TUL_free_Metadata(md);
  }
  std::remove(file_path().c_str());
  TUL_free_unique_strings();
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

}  // namespace
