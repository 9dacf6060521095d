// Side by side with the widely deployed C library that also reads its ASN.1
// schema at run time: both decode and encode the same SNMPv1 Trap-PDU, a
// small one (six bindings) and a large one (150 bindings), in one process.
// Each gets its schema at run time: this library the definitions of
// examples/snmpv1.defs, the peer the ASN.1 text of bench/snmpv1.asn.
// Prints ns per record for each and the ratio peer / tul.
//
// Times are the thread's CPU time, so that other programs sharing the
// machine count for little; rounds of the two alternate and the best round
// counts.
#include <libtasn1.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "support/defs_file.h"
#include "tul.h"

namespace {

// The bindings cycle through every syntax of a trap: `count` of them.
std::string trap_text(int count) {
  static const char* const kValues[] = {
      "simple : number : 2",
      "simple : string : \"GigabitEthernet0/12 uplink to core-router-07\"",
      "application-wide : counter : 3456789",
      "application-wide : gauge : 100000000",
      "application-wide : address : internet : 'C000020A'H",
      "simple : object : { 1 3 6 1 4 1 32473 2 }",
  };
  std::string text =
      "Trap-PDU { enterprise { 1 3 6 1 4 1 32473 1 }, agent-addr internet : 'C000020A'H, "
      "generic-trap linkDown, specific-trap 0, time-stamp 123456, variable-bindings {";
  for (int i = 0; i < count; ++i) {
    text += i ? ", " : " ";
    text += "{ name { 1 3 6 1 2 1 4 20 1 " + std::to_string(i % 5 + 1) + " 192 0 2 " + std::to_string(i + 1) +
            " }, value " + kValues[i % 6] + " }";
  }
  return text + " } }";
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "peer_bench: %s\n", what.c_str());
  std::exit(1);
}

double cpu_ns() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// ns per call of `fn` over `calls` calls.
template <class Fn>
double time_round(long calls, Fn&& fn) {
  double start = cpu_ns();
  for (long i = 0; i < calls; ++i) fn();
  return (cpu_ns() - start) / static_cast<double>(calls);
}

// Calls for a round of about 100 ms, from one call's time.
template <class Fn>
long calibrate(Fn&& fn) {
  double ns = time_round(10, fn);
  return std::max(10L, static_cast<long>(1e8 / std::max(ns, 1.0)));
}

template <class A, class B>
void compare(const char* what, size_t octets, A&& ours, B&& peer) {
  long ours_calls = calibrate(ours), peer_calls = calibrate(peer);
  double best_ours = 1e300, best_peer = 1e300;
  for (int round = 0; round < 7; ++round) {
    best_ours = std::min(best_ours, time_round(ours_calls, ours));
    best_peer = std::min(best_peer, time_round(peer_calls, peer));
  }
  std::printf("%-14s %6zu octets  tul %10.0f ns  libtasn1 %10.0f ns  ratio %5.2f\n", what, octets, best_ours,
              best_peer, best_peer / best_ours);
}

struct Peer {
  asn1_node definitions = nullptr;
  Peer() {
    char problem[ASN1_MAX_ERROR_DESCRIPTION_SIZE] = "";
    if (asn1_parser2tree(TUL_BENCH_DIR "/snmpv1.asn", &definitions, problem) != ASN1_SUCCESS)
      fail(std::string("peer schema: ") + problem);
  }
  ~Peer() { asn1_delete_structure(&definitions); }
  asn1_node decode(const std::vector<unsigned char>& der) const {
    asn1_node node = nullptr;
    if (asn1_create_element(definitions, "SNMPv1.Trap-PDU", &node) != ASN1_SUCCESS) fail("peer element");
    char problem[ASN1_MAX_ERROR_DESCRIPTION_SIZE] = "";
    if (asn1_der_decoding(&node, der.data(), static_cast<int>(der.size()), problem) != ASN1_SUCCESS)
      fail(std::string("peer decode: ") + problem);
    return node;
  }
};

struct Ours {
  TUL_Metadata* md = TUL_new_Metadata();
  Ours() {
    std::string problem = tul::test::load_definitions_file(md, tul::test::example_path("snmpv1.defs"));
    if (!problem.empty()) fail(problem);
  }
  ~Ours() {
    TUL_free_Metadata(md);
    TUL_free_unique_strings();
  }
};

void run(const Ours& ours, const Peer& peer, const char* label, int bindings) {
  TUL_Object* value = TUL_parse_str(ours.md, trap_text(bindings).c_str());
  if (!value || value->error) fail(std::string("trap value: ") + (value ? TUL_read_str(value) : "none"));
  TUL_Object* ber = TUL_encode(value);
  if (!ber || ber->error) fail("trap encode");
  const unsigned char* octets = reinterpret_cast<unsigned char*>(TUL_read_str(ber));
  std::vector<unsigned char> der(octets, octets + TUL_size(ber));

  asn1_node decoded = peer.decode(der);
  std::vector<unsigned char> out(der.size() + 64);
  int out_size = static_cast<int>(out.size());
  if (asn1_der_coding(decoded, "", out.data(), &out_size, nullptr) != ASN1_SUCCESS ||
      std::vector<unsigned char>(out.begin(), out.begin() + out_size) != der)
    fail("the peer's encoding differs");

  char* type = TUL_unique_string("Trap-PDU");
  std::string what = std::string("decode ") + label;
  compare(
      what.c_str(), der.size(), [&] { TUL_free(TUL_decode_US(type, ber, ours.md)); },
      [&] {
        asn1_node node = peer.decode(der);
        asn1_delete_structure(&node);
      });
  what = std::string("encode ") + label;
  compare(
      what.c_str(), der.size(), [&] { TUL_free(TUL_encode(value)); },
      [&] {
        int size = static_cast<int>(out.size());
        asn1_der_coding(decoded, "", out.data(), &size, nullptr);
      });
  asn1_delete_structure(&decoded);
  TUL_free(ber);
  TUL_free(value);
}

}  // namespace

int main() {
  Ours ours;
  Peer peer;
  run(ours, peer, "small", 6);
  run(ours, peer, "large", 150);
  return 0;
}
