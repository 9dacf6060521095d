// Feeds arbitrary text (ASN.1 modules, SNMP MIBs, GDMO templates) to the
// importer as one file of a batch, into a fresh dictionary each time,
// entering what imports (the first byte picks check-only and the dash
// option, so both paths are reached). Every diagnostic must name a file and
// carry a message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tul.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TUL_set_option(TUL_OPTION_TRACE_ERROR, 0);
  TUL_Metadata* md = TUL_new_Metadata();
  if (!md) std::abort();
  const int flags = data[0] & (TUL_IMPORT_CHECK | TUL_IMPORT_DASHES);
  TUL_ImportResult* r = TUL_import_string(md, "fuzz.asn", reinterpret_cast<const char*>(data + 1), size - 1, flags);
  if (!r) std::abort();
  for (int k = 0; k < r->diagnostic_count; ++k)
    if (!r->diagnostics[k].file || !r->diagnostics[k].message || !*r->diagnostics[k].message) std::abort();
  TUL_free_import_result(r);
  TUL_free_Metadata(md);
  TUL_free_unique_strings();
  return 0;
}
