// The import entry points: a batch reads all its texts before anything is
// resolved (the two-pass rule), and nothing is thrown across the C API.
#include "import.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <set>
#include <sstream>

#include "asn1_emit.h"
#include "asn1_parser.h"
#include "dict.h"
#include "mem.h"

namespace tul::import {

const char* const kBuiltinModule = R"(
InformationFramework DEFINITIONS ::= BEGIN
Name ::= CHOICE { RDNSequence }
RDNSequence ::= SEQUENCE OF RelativeDistinguishedName
DistinguishedName ::= RDNSequence
RelativeDistinguishedName ::= SET OF AttributeValueAssertion
AttributeValueAssertion ::= SEQUENCE { AttributeType, AttributeValue }
AttributeType ::= OBJECT IDENTIFIER
AttributeValue ::= ANY
UTF8String ::= [UNIVERSAL 12] IMPLICIT OCTET STRING
BMPString ::= [UNIVERSAL 30] IMPLICIT OCTET STRING
UniversalString ::= [UNIVERSAL 28] IMPLICIT OCTET STRING
-- The SNMP structure of management information (both versions) and the
-- common textual conventions, which MIB modules import.
org OBJECT IDENTIFIER ::= { iso 3 }
dod OBJECT IDENTIFIER ::= { org 6 }
internet OBJECT IDENTIFIER ::= { dod 1 }
directory OBJECT IDENTIFIER ::= { internet 1 }
mgmt OBJECT IDENTIFIER ::= { internet 2 }
mib-2 OBJECT IDENTIFIER ::= { mgmt 1 }
transmission OBJECT IDENTIFIER ::= { mib-2 10 }
experimental OBJECT IDENTIFIER ::= { internet 3 }
private OBJECT IDENTIFIER ::= { internet 4 }
enterprises OBJECT IDENTIFIER ::= { private 1 }
security OBJECT IDENTIFIER ::= { internet 5 }
snmpV2 OBJECT IDENTIFIER ::= { internet 6 }
snmpDomains OBJECT IDENTIFIER ::= { snmpV2 1 }
snmpProxys OBJECT IDENTIFIER ::= { snmpV2 2 }
snmpModules OBJECT IDENTIFIER ::= { snmpV2 3 }
zeroDotZero OBJECT IDENTIFIER ::= { 0 0 }
ObjectName ::= OBJECT IDENTIFIER
NetworkAddress ::= CHOICE { internet IpAddress }
IpAddress ::= [APPLICATION 0] IMPLICIT OCTET STRING
Counter ::= [APPLICATION 1] IMPLICIT INTEGER
Counter32 ::= [APPLICATION 1] IMPLICIT INTEGER
Gauge ::= [APPLICATION 2] IMPLICIT INTEGER
Gauge32 ::= [APPLICATION 2] IMPLICIT INTEGER
Unsigned32 ::= [APPLICATION 2] IMPLICIT INTEGER
TimeTicks ::= [APPLICATION 3] IMPLICIT INTEGER
Opaque ::= [APPLICATION 4] IMPLICIT OCTET STRING
Counter64 ::= [APPLICATION 6] IMPLICIT INTEGER
Integer32 ::= INTEGER
DisplayString ::= OCTET STRING
PhysAddress ::= OCTET STRING
MacAddress ::= OCTET STRING
DateAndTime ::= OCTET STRING
TAddress ::= OCTET STRING
TruthValue ::= INTEGER { true(1), false(2) }
RowStatus ::= INTEGER { active(1), notInService(2), notReady(3), createAndGo(4), createAndWait(5), destroy(6) }
StorageType ::= INTEGER { other(1), volatile(2), nonVolatile(3), permanent(4), readOnly(5) }
TimeStamp ::= TimeTicks
TimeInterval ::= INTEGER
TestAndIncr ::= INTEGER
AutonomousType ::= OBJECT IDENTIFIER
InstancePointer ::= OBJECT IDENTIFIER
VariablePointer ::= OBJECT IDENTIFIER
RowPointer ::= OBJECT IDENTIFIER
TDomain ::= OBJECT IDENTIFIER
SnmpAdminString ::= OCTET STRING
InetAddressType ::= INTEGER { unknown(0), ipv4(1), ipv6(2), ipv4z(3), ipv6z(4), dns(16) }
InetAddress ::= OCTET STRING
END
)";

void Batch::add_text(std::string file, std::string text) {
  Source source{std::move(file), std::move(text)};
  if (flags_ & TUL_IMPORT_DASHES) rewrite_dashes(source, diags_);
  if (is_gdmo_text(source.text)) {
    parse_gdmo(source, diags_, templates_, modules_, dropped_clauses_);
    return;
  }
  const std::vector<Token> tokens = scan_asn1(source, diags_);
  parse_asn1(source, tokens, diags_, modules_);
}

void Batch::add_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    diags_.error(path, {}, "", std::string("cannot open the file: ") + std::strerror(errno));
    return;
  }
  std::ostringstream text;
  text << in.rdbuf();
  add_text(path, text.str());
}

void Batch::finish() {
  add_text("<built-in module>", kBuiltinModule);
  modules_.back().builtin = true;
  Resolver resolver(modules_, md_, diags_);
  Emitter emitter(resolver, md_, diags_, (flags_ & TUL_IMPORT_CHECK) != 0);
  std::set<std::string, std::less<>> failed_values;
  for (const Module& m : modules_) {
    if (m.builtin) continue;
    emitter.emit_module(m);
    resolver.set_file(m.file);
    for (const Assignment& a : m.assignments) {
      if (a.kind == AssignmentKind::kIntegerValue) ++values_;
      if (a.kind != AssignmentKind::kOidValue) continue;
      std::string arcs, problem;
      if (resolver.oid_value(a.name, arcs, problem)) {
        ++values_;
      } else {
        diags_.error(m.file, a.at, a.name, problem);
        failed_values.insert(a.name);
      }
    }
  }
  snmp_templates(modules_, failed_values, templates_);
  // Syntaxes of templates may be the only use of a built-in type.
  for (const Template& t : templates_)
    for (const std::string& type : t.types)
      if (!resolver.find(type) && !resolver.in_dictionary(type))
        diags_.warning(t.file, t.at, t.label, "type " + type + " is not defined in the batch or the dictionary");
  emitter.emit_used_builtins(modules_.back());
  entered_ = emitter.entered();
  skipped_ = emitter.skipped();
  enter_templates(resolver);
}

// After every type of the batch, so that syntaxes and registrations find
// what they name; the registration index is built once, after the last.
void Batch::enter_templates(Resolver& resolver) {
  if (dropped_clauses_ > 0)
    diags_.warning(templates_.empty() ? "" : templates_.front().file, {}, "",
                   std::to_string(dropped_clauses_) +
                       " GDMO clauses the dictionary cannot hold were read and dropped");
  TemplateEmitter emitter(resolver, md_, diags_, (flags_ & TUL_IMPORT_CHECK) != 0);
  emitter.emit(templates_);
  templates_entered_ = emitter.entered();
  skipped_ += emitter.skipped();
  bool any = false;
  for (int n : templates_entered_) any = any || n > 0;
  if (any && !(flags_ & TUL_IMPORT_CHECK)) TUL_finalize(md_);
}

namespace {

char* copy_text(const std::string& s) { return mem::strdup(s.c_str()); }

}  // namespace

// Diagnostics in reading order: files as the batch met them, then lines;
// parse errors and resolution warnings of one file interleave.
std::vector<Diagnostic> Batch::sorted_diagnostics() const {
  std::vector<Diagnostic> list = diags_.list();
  std::vector<std::string> files;
  auto file_rank = [&files](const std::string& f) {
    return static_cast<std::size_t>(std::find(files.begin(), files.end(), f) - files.begin());
  };
  for (const Diagnostic& d : list)
    if (file_rank(d.file) == files.size()) files.push_back(d.file);
  std::stable_sort(list.begin(), list.end(), [&](const Diagnostic& a, const Diagnostic& b) {
    const std::size_t fa = file_rank(a.file), fb = file_rank(b.file);
    return fa != fb ? fa < fb : a.at.line < b.at.line;
  });
  return list;
}

TUL_ImportResult* Batch::result() const {
  auto* r = static_cast<TUL_ImportResult*>(mem::zalloc(sizeof(TUL_ImportResult)));
  if (!r) return nullptr;
  r->types_entered = entered_;
  r->items_skipped = skipped_;
  r->values_kept = values_;
  r->errors = diags_.errors();
  r->warnings = diags_.warnings();
  for (std::size_t k = 0; k < templates_entered_.size(); ++k) r->templates_entered[k] = templates_entered_[k];
  const std::vector<Diagnostic> list = sorted_diagnostics();
  if (!list.empty()) {
    r->diagnostics = static_cast<TUL_ImportDiagnostic*>(mem::zalloc(list.size() * sizeof(TUL_ImportDiagnostic)));
    if (!r->diagnostics) {
      TUL_free_import_result(r);
      return nullptr;
    }
  }
  for (const Diagnostic& d : list) {
    TUL_ImportDiagnostic& out = r->diagnostics[r->diagnostic_count++];
    out.severity = static_cast<int>(d.severity);
    out.line = d.at.line;
    out.column = d.at.column;
    out.file = copy_text(d.file);
    out.item = copy_text(d.item);
    out.message = copy_text(d.message);
    if (!out.file || !out.item || !out.message) {
      TUL_free_import_result(r);
      return nullptr;
    }
  }
  return r;
}

}  // namespace tul::import

namespace {

template <class Fill>
TUL_ImportResult* run_batch(TUL_Metadata* md, int flags, Fill fill) {
  if (!md) return nullptr;
  try {
    tul::import::Batch batch(md, flags);
    fill(batch);
    batch.finish();
    return batch.result();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

TUL_API TUL_ImportResult* TUL_import_files(TUL_Metadata* md, const char* const* paths, int count, int flags) {
  if (count < 0 || (count > 0 && !paths)) return nullptr;
  return run_batch(md, flags, [&](tul::import::Batch& batch) {
    for (int k = 0; k < count; ++k) batch.add_file(paths[k] ? paths[k] : "");
  });
}

TUL_API TUL_ImportResult* TUL_import_string(TUL_Metadata* md, const char* name, const char* text, size_t size,
                                            int flags) {
  if (!text && size) return nullptr;
  return run_batch(md, flags, [&](tul::import::Batch& batch) {
    batch.add_text(name ? name : "<string>", std::string(text ? text : "", size));
  });
}

TUL_API void TUL_free_import_result(TUL_ImportResult* result) {
  if (!result) return;
  for (int k = 0; k < result->diagnostic_count; ++k) {
    std::free(result->diagnostics[k].file);
    std::free(result->diagnostics[k].item);
    std::free(result->diagnostics[k].message);
  }
  std::free(result->diagnostics);
  std::free(result);
}
