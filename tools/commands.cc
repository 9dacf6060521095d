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
// each to `action`, which says whether to go on; the values are freed here.
// False when the file cannot be read or parsed or `action` says stop.
template <class Action>
bool for_each_value(TUL_Metadata* md, const std::string& path, Action action) {
  InputFile input(path);
  if (!input.ok()) return false;
  ValueReader reader(md, input);
  for (;;) {
    TUL_Object* next = nullptr;
    switch (reader.next(&next)) {
      case ValueReader::Status::kEnd:
        return true;
      case ValueReader::Status::kError:
        return false;
      case ValueReader::Status::kValue:
        break;
    }
    const ValuePtr value(next);
    if (!action(value.get(), reader)) return false;
  }
}

// Outcome of measuring the BER element at the start of some octets.
struct Frame {
  bool complete;        // the whole element is present and well formed
  std::size_t length;   // identifier, length and contents octets, when complete
  std::string problem;  // what is wrong, when not complete
};

// Measures the record at the start of `octets` with the library's own reader.
Frame measure_element(std::span<const uint8_t> octets) {
  const char* problem = "";
  const long size = octets.size() > LONG_MAX ? LONG_MAX : static_cast<long>(octets.size());
  const long length = TUL_ber_length(octets.data(), size, &problem);
  if (length < 0) return {false, 0, problem};
  return {true, static_cast<std::size_t>(length), {}};
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

std::string hex_text(std::span<const uint8_t> octets) {
  std::string text;
  char two[3];
  for (uint8_t octet : octets) {
    std::snprintf(two, sizeof two, "%02X", octet);
    text += two;
  }
  return text;
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
                   const Frame& frame, const std::string& where, bool strict) {
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
    return false;
  }
  if (!identifier_expected(value.get(), octets, where, type, strict)) return false;
  TUL_print(value.get(), stdout);
  return true;
}

}  // namespace

bool load_definitions(TUL_Metadata* md, const std::string& path) {
  if (is_persistence_path(path)) return load_persistence(md, path);
  return for_each_value(md, path, [md](TUL_Object* value, const ValueReader& reader) {
    TUL_Object* entered = TUL_add_definition(md, value);
    if (entered == value) return true;
    // Anything but its argument is an error object of TUL_add_definition.
    report("%s:%d: %s (a value of type %s)", reader.name().c_str(), reader.value_line(),
           error_text(entered).c_str(), TUL_object_type(value));
    TUL_free(entered);
    return false;
  });
}

// The records of an input as they arrive: only the unread part of the
// stream is kept, and read further only while the record at its start is not
// whole, so memory follows the largest record rather than the input.
struct RecordSource {
  explicit RecordSource(const InputFile& in) : input(in) {}

  // Reads until the record at the start is whole or the input ends; the
  // reads grow with what is kept, so a large record is measured a few times.
  bool fill() {
    while (!end && !measure_element(rest()).complete) {
      if (start > 0) {
        octets.erase(octets.begin(), octets.begin() + static_cast<std::ptrdiff_t>(start));
        start = 0;
      }
      if (!read_some(input, octets, std::max<std::size_t>(kChunk, octets.size()), &end)) return false;
    }
    return true;
  }
  std::span<const uint8_t> rest() const { return std::span<const uint8_t>(octets).subspan(start); }
  void consume(std::size_t length) {
    start += length;
    offset += length;
  }

  static constexpr std::size_t kChunk = 64 * 1024;
  const InputFile& input;
  std::vector<uint8_t> octets;
  std::size_t start = 0;   // of the unread part in `octets`
  std::size_t offset = 0;  // of the unread part in the input
  bool end = false;
};

int run_decode(TUL_Metadata* md, const Invocation& inv) {
  const std::string& type = inv.arguments[0];
  if (!type_exists(md, type)) return kExitUsage;
  InputFile input(optional_file(inv, 1));
  if (!input.ok()) return kExitFailure;
  RecordSource source(input);
  if (inv.hex) {
    std::vector<uint8_t> text;
    if (!read_all(input, text) || !hex_to_octets(text, input.name(), source.octets)) return kExitFailure;
    source.end = true;
  }
  for (int record = 1;; ++record) {
    if (!source.fill()) return kExitFailure;
    const std::span<const uint8_t> rest = source.rest();
    if (rest.empty()) return kExitOk;
    const Frame frame = measure_element(rest);
    const std::size_t length = frame.complete ? frame.length : rest.size();
    const std::string where = input.name() + ": record " + std::to_string(record) + " at offset " +
                              std::to_string(source.offset);
    if (!decode_record(md, type, rest.first(length), frame, where, inv.strict)) return kExitFailure;
    source.consume(length);
  }
}

int run_encode(TUL_Metadata* md, const Invocation& inv) {
  const bool ok =
      for_each_value(md, optional_file(inv, 0), [&](TUL_Object* value, const ValueReader& reader) {
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
      for_each_value(md, optional_file(inv, 0), [](TUL_Object* value, const ValueReader&) {
        TUL_print(value, stdout);
        return true;
      });
  return ok ? kExitOk : kExitFailure;
}

int run_types(TUL_Metadata* md, const Invocation&) {
  std::vector<const char*> names;
  for_each_type(md, [&](TUL_Asn1TypeEntry* e) { names.push_back(e->name); });
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
