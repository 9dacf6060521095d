// Translation of event reports next to the decode alone of the same
// records: a CMIP communications alarm whose information spreads into four
// attributes, and an SNMPv1 trap with two bindings. Items are reports.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "support/defs_file.h"
#include "tul.h"

namespace {

constexpr const char* kAlarm =
    "EventReportArgument { managedObjectClass globalForm : { 2 9 3 2 3 13 },"
    " managedObjectInstance distinguishedName : { { { attributeType { 2 9 3 2 7 50 }, attributeValue IA5String"
    " \"port-7\" } } }, eventTime \"20261205224500Z\", eventType { 2 9 3 2 10 2 }, eventInfo AlarmInfo {"
    " probableCause localValue : 15, perceivedSeverity major, notificationIdentifier 42, additionalText \"link down\" } }";
constexpr const char* kTrap =
    "Trap-PDU { enterprise { 1 3 6 1 4 1 32473 1 }, agent-addr internet : 'C000020A'H, generic-trap linkDown,"
    " specific-trap 0, time-stamp 123456, variable-bindings {"
    " { name { 1 3 6 1 2 1 2 2 1 1 2 }, value simple : number : 2 },"
    " { name { 1 3 6 1 2 1 2 2 1 2 2 }, value simple : string : \"eth1\" } } }";

// A dictionary with the bundled definitions and the encoding of one report.
struct Fixture {
  explicit Fixture(const char* text) {
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
    md = TUL_new_Metadata();
    if (!md || !tul::test::load_definitions_file(md, tul::test::example_path("snmpv1.defs")).empty() ||
        !tul::test::load_definitions_file(md, tul::test::example_path("cmip.defs")).empty())
      std::abort();
    ber = tul::test::encode_text(md, text);
    if (!ber || ber->error) std::abort();
  }
  ~Fixture() {
    TUL_free(ber);
    TUL_free_Metadata(md);
    TUL_free_unique_strings();
  }
  TUL_Metadata* md;
  TUL_Object* ber;
};

void run(benchmark::State& state, const char* text, const char* type, bool translate) {
  Fixture f(text);
  for (auto _ : state) {
    TUL_Object* result = translate ? TUL_translate(const_cast<char*>(type), f.ber, f.md) : TUL_decode(type, f.ber, f.md);
    if (!result || result->error) std::abort();
    TUL_free(result);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_DecodeEvent(benchmark::State& state) { run(state, kAlarm, "EventReportArgument", false); }
void BM_TranslateEvent(benchmark::State& state) { run(state, kAlarm, "EventReportArgument", true); }
void BM_TranslateEventCMISLog(benchmark::State& state) { run(state, kAlarm, "zrCMISLogRecord", true); }
void BM_DecodeTrap(benchmark::State& state) { run(state, kTrap, "Trap-PDU", false); }
void BM_TranslateTrap(benchmark::State& state) { run(state, kTrap, "Trap-PDU", true); }

BENCHMARK(BM_DecodeEvent);
BENCHMARK(BM_TranslateEvent);
BENCHMARK(BM_TranslateEventCMISLog);
BENCHMARK(BM_DecodeTrap);
BENCHMARK(BM_TranslateTrap);

}  // namespace
