// Version texts and the process-wide options. Options live in one record
// shared by every dictionary; they are plain ints read on every use.
#include "tul.h"
#include "dtd.h"
#include "tulversion.h"

namespace tul {

Globals globals = {
    const_cast<char*>("TUL library V.1.0 (98/02/28)"),
    const_cast<char*>("DTD persistence file format V.1.7 (96/04/17)"),
    0,  // oid_as_label
    1,  // oid_annotated
    1,  // trace_error
    0,  // ber_annotated
    0,  // typed_any
    0,  // wide_integers
};

bool wide_integers() { return globals.wide_integers != 0; }

namespace {

// The option fields in topic order.
int* option_field(int topic) {
  switch (topic) {
    case TUL_OPTION_OID_AS_LABEL: return &globals.oid_as_label;
    case TUL_OPTION_OID_ANNOTATED: return &globals.oid_annotated;
    case TUL_OPTION_TRACE_ERROR: return &globals.trace_error;
    case TUL_OPTION_BER_ANNOTATED: return &globals.ber_annotated;
    default: return nullptr;
  }
}

}  // namespace
}  // namespace tul

extern "C" {

TUL_API void TUL_set_option(int topic, int activate) {
  int* field = tul::option_field(topic);
  if (!field) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "set_option");
    return;
  }
  *field = activate;
}

TUL_API int TUL_get_option(int topic) {
  int* field = tul::option_field(topic);
  if (!field) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "get_option");
    return 0;
  }
  return *field;
}

TUL_API void TUL_set_typed_any(int on) { tul::globals.typed_any = on; }
TUL_API void TUL_set_wide_integers(int on) { tul::globals.wide_integers = on ? 1 : 0; }
TUL_API int TUL_get_wide_integers(void) { return tul::globals.wide_integers; }

TUL_API char* TUL_library_version(void) { return tul::globals.library_version; }
TUL_API char* TUL_format_version(void) { return tul::globals.format_version; }

}  // extern "C"
