// Readable value notation: the program gives the dictionary's OCTET STRING
// table a print of its own that follows the octets with a comment holding
// their text when it is printable, or the dotted quad of an IpAddress. The
// comment ends at the next "--", so text holding one is not shown, and the
// output still parses back to the same values.
#include <cstring>
#include <string>

#include "cli.h"

namespace tul::cli {
namespace {

// `obj` is an IpAddress, or of a type defined straight from it.
bool is_ip_address(TUL_Object* obj) {
  const auto* e = reinterpret_cast<const TUL_Asn1TypeEntry*>(obj->type_ref);
  return std::strcmp(e->name, "IpAddress") == 0 || (e->type && std::strcmp(e->type, "IpAddress") == 0);
}

std::string annotation(TUL_Object* obj) {
  const char* octets = TUL_read_str(obj);
  const long size = TUL_size(obj);
  if (!octets || size <= 0) return {};
  if (size == 4 && is_ip_address(obj)) {
    const auto* quad = reinterpret_cast<const unsigned char*>(octets);
    return " -- " + std::to_string(quad[0]) + "." + std::to_string(quad[1]) + "." + std::to_string(quad[2]) + "." +
           std::to_string(quad[3]) + " --";
  }
  for (long i = 0; i < size; ++i)
    if (octets[i] < 0x20 || octets[i] > 0x7E || (octets[i] == '-' && i + 1 < size && octets[i + 1] == '-')) return {};
  return " -- \"" + std::string(octets, static_cast<std::size_t>(size)) + "\" --";
}

void annotated_print(TUL_Object* obj, TULP_PrintContext* ctx) {
  TUL_octet_behavior.print(obj, ctx);
  if (!obj || !ctx || !ctx->prints) return;
  // A BER-String shows its octets through this print too; those are no text.
  if (obj->type_ref->behavior->print != annotated_print) return;
  const std::string text = annotation(obj);
  if (!text.empty()) ctx->prints(text.c_str(), ctx->ptr);
}

}  // namespace

void annotate_octet_strings(TUL_Metadata* md) { md->octet_behavior.print = annotated_print; }

}  // namespace tul::cli
