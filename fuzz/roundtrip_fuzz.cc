// The round-trip oracle over the bundled SNMP definitions: whatever decodes
// as one of their types must print, parse back to an equal value, encode,
// and decode again to an equal value, and the value parsed back must encode
// to exactly the octets the decoded value encodes to. The first octet picks
// the type, the rest is the record.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tul.h"

#ifndef TUL_EXAMPLES
#error "TUL_EXAMPLES must name the examples directory"
#endif

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

void load(TUL_Metadata* md, const char* name) {
  const std::string path = std::string(TUL_EXAMPLES) + "/" + name;
  FILE* in = std::fopen(path.c_str(), "r");
  if (!in) std::abort();
  for (TUL_Object* v; (v = TUL_parse(md, in, nullptr));) {
    bool end = v->error != 0;
    if (!end) {
      TUL_Object* entered = TUL_add_definition(md, v);
      if (entered != v) std::abort();
    }
    TUL_free(v);
    if (end) break;
  }
  std::fclose(in);
}

TUL_Metadata* make_dictionary() {
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Metadata* md = TUL_new_Metadata();
  if (!md) std::abort();
  load(md, "snmpv1.defs");
  load(md, "mib2.defs");
  return md;
}

constexpr const char* kTypes[] = {
    "Message", "PDUs", "Trap-PDU", "GetRequest-PDU", "VarBindList", "ObjectSyntax", "NetworkAddress",
    "IpAddress", "Counter", "TimeTicks", "Opaque", "ANY", "INTEGER", "OCTET STRING", "OBJECT IDENTIFIER",
};

bool ok(TUL_Object* v) { return v && !v->error; }

// The tokenizer holds a token in a fixed buffer, so a string or hex string
// printed longer than that cannot be read back: a limit of the notation,
// not a fault.
bool token_too_long(TUL_Object* error) {
  const char* text = error && error->error == TUL_ERR_PARSE ? TUL_read_str(error) : nullptr;
  return text && (std::strstr(text, "TOKEN too large") || std::strstr(text, "string too long"));
}

// Octets of a BER-String as a string, for comparing two encodings.
std::string octets_of(TUL_Object* ber) {
  const char* octets = TUL_read_str(ber);
  long size = TUL_size(ber);
  return octets && size > 0 ? std::string(octets, static_cast<size_t>(size)) : std::string();
}

void round_trip(TUL_Metadata* md, const char* type, TUL_Object* ber) {
  TUL_Object* decoded = TUL_decode(type, ber, md);
  if (!ok(decoded)) {
    TUL_free(decoded);
    return;
  }
  char* text = TUL_print2str(decoded);
  check(text != nullptr);
  TUL_Object* parsed = TUL_parse_str(md, text);
  if (token_too_long(parsed)) {
    TUL_free(parsed);
    std::free(text);
    TUL_free(decoded);
    return;
  }
  check(ok(parsed) && TUL_equal(decoded, parsed));
  TUL_Object* first = TUL_encode(decoded);
  TUL_Object* second = TUL_encode(parsed);
  check(ok(first) && ok(second) && octets_of(first) == octets_of(second));
  TUL_Object* again = TUL_decode(type, first, md);
  check(ok(again) && TUL_equal(again, decoded));
  TUL_free(again);
  TUL_free(second);
  TUL_free(first);
  TUL_free(parsed);
  std::free(text);
  TUL_free(decoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TUL_Metadata* md = make_dictionary();
  if (size < 1 || size > (1u << 16)) return 0;
  const char* type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
  TUL_Object* ber = TUL_new("BER-String", md, static_cast<int>(size - 1), reinterpret_cast<const char*>(data + 1));
  if (!ok(ber)) std::abort();
  round_trip(md, type, ber);
  TUL_free(ber);
  return 0;
}
