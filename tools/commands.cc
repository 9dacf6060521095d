// The commands of the tul program: each reads its input, calls the library
// and prints the result or an error message that names the file and the line
// or record. Output of earlier values and records stays valid when a later
// one fails.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "cli.h"

namespace tul::cli {
namespace {

struct FreeValue {
  void operator()(TUL_Object* obj) const { TUL_free(obj); }
};
using ValuePtr = std::unique_ptr<TUL_Object, FreeValue>;

bool is_error(TUL_Object* obj) { return !obj || obj->error != 0; }

// Calls `action` with every type entry of the dictionary, built-in roots
// included (the library's own walk leaves those out).
template <class Action>
void for_each_type(TUL_Metadata* md, Action action) {
  if (!md->asn1_types) return;
  for (void** bucket : md->asn1_types->table)
    for (; bucket && *bucket; ++bucket) action(static_cast<TUL_Asn1TypeEntry*>(*bucket));
}

bool type_exists(TUL_Metadata* md, const std::string& name) {
  bool found = false;
  for_each_type(md, [&](TUL_Asn1TypeEntry* e) { found = found || name == e->name; });
  if (!found) report("no type '%s' in the dictionary (see 'tul types')", name.c_str());
  return found;
}

const std::string& optional_file(const Invocation& inv, std::size_t index) {
  static const std::string kStandardInput;
  return inv.arguments.size() > index ? inv.arguments[index] : kStandardInput;
}

// Reads the typed values of the file at `path` one after the other and hands
// each to `action`, which says whether it succeeded; the values are freed
// here. With `go_on`, a value that does not parse or fails in `action` is
// counted and reading goes on. False when the file cannot be read or any
// value failed.
template <class Action>
bool for_each_value(TUL_Metadata* md, const std::string& path, bool go_on, Action action) {
  InputFile input(path);
  if (!input.ok()) return false;
  ValueReader reader(md, input);
  bool failed = false;
  for (;;) {
    TUL_Object* next = nullptr;
    switch (reader.next(&next)) {
      case ValueReader::Status::kEnd:
        return !failed;
      case ValueReader::Status::kError:
        if (!go_on || !reader.resync()) return false;
        failed = true;
        continue;
      case ValueReader::Status::kValue:
        break;
    }
    const ValuePtr value(next);
    if (action(value.get(), reader)) continue;
    if (!go_on) return false;
    failed = true;
  }
}

// The identifier octets at the start of an encoding (one, or more for a
// high tag number); empty when they are cut short.
std::span<const uint8_t> identifier_of(std::span<const uint8_t> octets) {
  if (octets.empty()) return {};
  std::size_t n = 1;
  if ((octets[0] & 0x1F) == 0x1F)
    while (n < octets.size() && (octets[n++] & 0x80) != 0) {
    }
  return octets.first(n);
}

// The library decodes primitive contents without looking at the outer
// identifier, so a record of another type can decode. The identifier the
// type expects is the one its value encodes with; a difference is worth a
// warning, or a failure with --strict. Values that do not encode again are
// not judged.
bool identifier_expected(TUL_Object* value, std::span<const uint8_t> record, const std::string& where,
                         const std::string& type, bool strict) {
  ValuePtr again(TUL_encode(value));
  if (is_error(again.get())) return true;
  const auto* octets = reinterpret_cast<const uint8_t*>(TUL_read_str(again.get()));
  const long size = TUL_size(again.get());
  if (!octets || size <= 0) return true;
  const auto expected = identifier_of({octets, static_cast<std::size_t>(size)});
  const auto found = identifier_of(record);
  if (std::equal(found.begin(), found.end(), expected.begin(), expected.end())) return true;
  report("%s: %s: identifier %s found where %s expects %s", where.c_str(), strict ? "error" : "warning",
         hex_text(found).c_str(), type.c_str(), hex_text(expected).c_str());
  return !strict;
}

// Decodes one record; `frame` tells whether the record was measured whole. A
// record that could not be measured still goes to the decoder, whose message
// says what it found, followed by what the measuring found.
bool decode_record(TUL_Metadata* md, const std::string& type, std::span<const uint8_t> octets,
                   const Frame& frame, const std::string& where, const Invocation& inv) {
  if (octets.size() > INT_MAX) {
    report("%s: record too large", where.c_str());
    return false;
  }
  ValuePtr ber(TUL_new("BER-String", md, static_cast<int>(octets.size()),
                       static_cast<const void*>(octets.data())));
  if (is_error(ber.get())) {
    report("%s: %s", where.c_str(), error_text(ber.get()).c_str());
    return false;
  }
  ValuePtr value(TUL_decode(type.c_str(), ber.get(), md));
  if (is_error(value.get()) || !frame.complete) {
    std::string why = is_error(value.get()) ? decode_error_text(md, value.get()) : std::string();
    if (!frame.complete) why += why.empty() ? frame.problem : " (" + frame.problem + ")";
    report("%s: %s", where.c_str(), why.c_str());
    if (is_error(value.get())) report_decode_position(where);
    return false;
  }
  if (!identifier_expected(value.get(), octets, where, type, inv.strict)) return false;
  print_record_value(value.get(), inv);
  return true;
}

}  // namespace

int run_decode(TUL_Metadata* md, const Invocation& inv) {
  const std::string& type = inv.arguments[0];
  if (!type_exists(md, type)) return kExitUsage;
  const bool ok = for_each_record(inv, optional_file(inv, 1), false,
                                  [&](std::span<const uint8_t> octets, const Frame& frame, const std::string& where) {
                                    return decode_record(md, type, octets, frame, where, inv);
                                  });
  return ok ? kExitOk : kExitFailure;
}

int run_encode(TUL_Metadata* md, const Invocation& inv) {
  const bool ok =
      for_each_value(md, optional_file(inv, 0), inv.keep_going, [&](TUL_Object* value, const ValueReader& reader) {
        ValuePtr ber(TUL_encode(value));
        if (is_error(ber.get())) {
          report("%s:%d: cannot encode the %s value: %s", reader.name().c_str(),
                 reader.value_line(), TUL_object_type(value), error_text(ber.get()).c_str());
          return false;
        }
        const std::span<const uint8_t> octets(
            reinterpret_cast<const uint8_t*>(TUL_read_str(ber.get())),
            static_cast<std::size_t>(TUL_size(ber.get())));
        if (inv.hex)
          write_hex_line(octets, stdout);
        else
          std::fwrite(octets.data(), 1, octets.size(), stdout);
        return true;
      });
  return ok ? kExitOk : kExitFailure;
}

int run_print(TUL_Metadata* md, const Invocation& inv) {
  const bool ok =
      for_each_value(md, optional_file(inv, 0), false, [](TUL_Object* value, const ValueReader&) {
        TUL_print(value, stdout);
        return true;
      });
  return ok ? kExitOk : kExitFailure;
}

// The user's types are those that a new dictionary lacks.
int run_types(TUL_Metadata* md, const Invocation& inv) {
  TUL_Metadata* fresh = inv.all_types ? nullptr : TUL_new_Metadata();
  if (!inv.all_types && !fresh) {
    report("cannot create a dictionary: out of memory");
    return kExitFailure;
  }
  std::vector<const char*> own;
  if (fresh) for_each_type(fresh, [&](TUL_Asn1TypeEntry* e) { own.push_back(e->name); });
  std::vector<const char*> names;
  for_each_type(md, [&](TUL_Asn1TypeEntry* e) {
    // Names are interned once per process, so pointers compare.
    if (std::find(own.begin(), own.end(), e->name) == own.end()) names.push_back(e->name);
  });
  TUL_free_Metadata(fresh);
  std::sort(names.begin(), names.end(),
            [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
  for (const char* name : names) std::puts(name);
  return kExitOk;
}

int run_describe(TUL_Metadata* md, const Invocation& inv) {
  const std::string& type = inv.arguments[0];
  if (!type_exists(md, type)) return kExitUsage;
  // The descriptions belong to the dictionary. Only types derived from a
  // constructed type have a final description apart from their own.
  TUL_Object* info = TUL_asn1_info(md, type.c_str(), inv.final_description ? 1 : 0);
  if (!info && inv.final_description) {
    info = TUL_asn1_info(md, type.c_str(), 0);
    if (info) std::printf("-- %s is not derived from a constructed type; its own definition:\n", type.c_str());
  }
  if (info)
    TUL_print(info, stdout);
  else
    std::printf("-- %s is a built-in type without a description\n", type.c_str());
  return kExitOk;
}

}  // namespace tul::cli
