// The process-wide option record, shared by every dictionary.
#ifndef TUL_TULVERSION_H
#define TUL_TULVERSION_H

namespace tul {

struct Globals {
  char* library_version;
  char* format_version;
  int oid_as_label;   // print registered OBJECT IDENTIFIERs as template labels
  int oid_annotated;  // ... with the other form as a comment
  int trace_error;    // write error messages to stderr
  int ber_annotated;  // print BER-String values with a BER trace
  int typed_any;      // decode members declared ANY as the type their tag names
  int wide_integers;  // INTEGER and ENUMERATED values are 64-bit
};

extern Globals globals;

}  // namespace tul

#endif
