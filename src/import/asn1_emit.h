// Turns resolved type assignments into "TUL.Asn1" values and enters them
// with TUL_add_definition. The values are written in value notation and read
// by the library's parser, so what is entered is exactly what the same text
// in a definitions file gives.
#ifndef TUL_IMPORT_ASN1_EMIT_H
#define TUL_IMPORT_ASN1_EMIT_H

#include <map>
#include <string>

#include "asn1_resolve.h"

namespace tul::import {

class Emitter {
 public:
  Emitter(Resolver& resolver, TUL_Metadata* md, Diagnostics& diags, bool check)
      : resolver_(resolver), md_(md), diags_(diags), check_(check) {}

  // Enters the type assignments of `module`; counts the rest as skipped.
  void emit_module(const Module& module);
  // Enters the built-in assignments the batch used, and those they use.
  void emit_used_builtins(const Module& builtin);

  int entered() const { return entered_; }
  int skipped() const { return skipped_; }

 private:
  void emit_assignment(const Module& module, const Assignment& a);
  void enter(const Module& module, const Assignment& a, const std::string& name, const std::string& text);

  struct Emitted {
    std::string text;
    std::string module;
  };

  Resolver& resolver_;
  TUL_Metadata* md_;
  Diagnostics& diags_;
  bool check_;
  std::map<std::string, Emitted, std::less<>> emitted_;
  int entered_ = 0;
  int skipped_ = 0;
};

}  // namespace tul::import

#endif
