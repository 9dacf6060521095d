// The event commands of the tul program: translate received event reports
// into attribute lists, and evaluate a CMIS filter against attribute lists.
// Both go on past a bad record or list and fail at the end, so one bad
// report in a log does not hide the others.
#include <climits>
#include <cstring>
#include <memory>

#include "cli.h"

namespace tul::cli {
namespace {

struct FreeValue {
  void operator()(TUL_Object* obj) const { TUL_free(obj); }
};
using OwnedValue = std::unique_ptr<TUL_Object, FreeValue>;

constexpr const char* kTranslateKinds[] = {"EventReportArgument", "zrEventLogRecord", "zrCMISLogRecord", "Trap-PDU"};

bool is_translate_kind(const std::string& kind) {
  for (const char* known : kTranslateKinds)
    if (kind == known) return true;
  return false;
}

const std::string& input_path(const Invocation& inv) {
  static const std::string kStandardInput;
  return inv.arguments.size() > 1 ? inv.arguments[1] : kStandardInput;
}

// The report type each kind is decoded as.
const char* report_type(const std::string& kind) { return kind == "Trap-PDU" ? "Trap-PDU" : "EventReportArgument"; }

// Translates one framed record and prints its attribute list; false, with
// a message naming the record, when it does not translate.
bool translate_record(TUL_Metadata* md, const std::string& kind, std::span<const uint8_t> octets,
                      const std::string& where, const Invocation& inv) {
  OwnedValue ber(octets.size() > INT_MAX ? nullptr
                                         : TUL_new("BER-String", md, static_cast<int>(octets.size()),
                                                   static_cast<const void*>(octets.data())));
  if (!ber || ber->error) {
    report("%s: %s", where.c_str(), ber ? error_text(ber.get()).c_str() : "record too large");
    return false;
  }
  OwnedValue list(TUL_translate(const_cast<char*>(kind.c_str()), ber.get(), md));
  if (!list || list->error) {
    // The translation says nothing of why; a decode alone tells what did
    // not decode.
    OwnedValue decoded(TUL_decode(report_type(kind), ber.get(), md));
    const bool decodes = decoded && !decoded->error;
    report("%s: does not translate as %s%s%s", where.c_str(), kind.c_str(), decodes ? "" : ": ",
           decodes ? "" : decode_error_text(md, decoded.get()).c_str());
    if (!decodes) report_decode_position(where);
    return false;
  }
  print_record_value(list.get(), inv);
  return true;
}

// Binds the library's filter functions to the bundled filter types, as an
// application does for its own.
void bind_filter_types(TUL_Metadata* md) {
  const struct {
    const char* type;
    const char* name;
    TUL_ActionFunction function;
  } bindings[] = {
      {"CMISFilter", "evaluate", TUL_CMISFilter_evaluate},
      {"FilterItem", "evaluate", TUL_FilterItem_evaluate},
      {"SubstringsChoice", "evaluate", TUL_SubstringsChoice_evaluate},
      {"CMISFilter", "check", TUL_CMISFilter_check},
      {"FilterItem", "check", TUL_FilterItem_check},
  };
  for (const auto& b : bindings)
    TUL_register(md, b.type, b.name, reinterpret_cast<void*>(b.function));
}

// Reads the one filter of the filter file; null, with a message, when it
// holds none that can be evaluated.
TUL_Object* read_filter(TUL_Metadata* md, const std::string& path) {
  InputFile input(path);
  if (!input.ok()) return nullptr;
  ValueReader reader(md, input);
  TUL_Object* filter = nullptr;
  const ValueReader::Status status = reader.next(&filter);
  if (status == ValueReader::Status::kEnd) report("%s: no filter in the file", input.name().c_str());
  if (status != ValueReader::Status::kValue) return nullptr;
  OwnedValue owned(filter);
  if (std::strcmp(TUL_object_type(filter), "CMISFilter") != 0) {
    report("%s:%d: a value of type %s is no CMISFilter", input.name().c_str(), reader.value_line(),
           TUL_object_type(filter));
    return nullptr;
  }
  if (TUL_action("check", filter, nullptr) == nullptr) {
    report("%s:%d: the filter compares values that cannot be ordered or compared as its items ask",
           input.name().c_str(), reader.value_line());
    return nullptr;
  }
  return owned.release();
}

}  // namespace

std::string decode_error_text(TUL_Metadata* md, TUL_Object* error) {
  std::string text = error_text(error);
  if (!error || error->error != TUL_ERR_DECODE) return text;
  const std::string marker = "from type '";
  const std::size_t at = text.rfind(marker);
  const std::size_t end = at == std::string::npos ? at : text.find('\'', at + marker.size());
  if (end == std::string::npos) return text;
  const std::string type = text.substr(at + marker.size(), end - at - marker.size());
  if (TUL_asn1_basic_type(md, type.c_str()) & (TUL_INTEGER_TYPE | TUL_ENUMERATED_TYPE))
    text += TUL_get_wide_integers()
                ? " (INTEGER values are 64-bit: a value of " + type + " with more octets does not fit)"
                : " (INTEGER values are 32-bit with --strict-integers: a value of " + type +
                      " with more octets does not fit)";
  return text;
}

void report_decode_position(const std::string& where) {
  const TUL_DecodeFailure* failure = TUL_last_decode_failure();
  if (!failure) return;
  static constexpr const char* kClasses[] = {"UNIVERSAL ", "APPLICATION ", "", "PRIVATE "};
  const std::string path = *failure->path ? failure->path : "the outermost value";
  const std::string offset = failure->offset >= 0 ? " at offset " + std::to_string(failure->offset) + " of the record" : "";
  const std::string type = failure->type ? " (read as " + std::string(failure->type) + ")" : "";
  report("%s: in %s%s: tag [%s%d] found%s", where.c_str(), path.c_str(), offset.c_str(),
         kClasses[failure->tag_class & 3], failure->tag_number, type.c_str());
}

int run_translate(TUL_Metadata* md, const Invocation& inv) {
  const std::string& kind = inv.arguments[0];
  if (!is_translate_kind(kind)) {
    report("unknown kind '%s': EventReportArgument, zrEventLogRecord, zrCMISLogRecord or Trap-PDU", kind.c_str());
    return kExitUsage;
  }
  const bool ok = for_each_record(inv, input_path(inv), true,
                                  [&](std::span<const uint8_t> octets, const Frame& frame, const std::string& where) {
                                    if (frame.complete) return translate_record(md, kind, octets, where, inv);
                                    report("%s: %s", where.c_str(), frame.problem.c_str());
                                    return false;
                                  });
  return ok ? kExitOk : kExitFailure;
}

int run_filter(TUL_Metadata* md, const Invocation& inv) {
  bind_filter_types(md);
  OwnedValue filter(read_filter(md, inv.arguments[0]));
  if (!filter) return kExitFailure;
  InputFile input(input_path(inv));
  if (!input.ok()) return kExitFailure;
  ValueReader reader(md, input);
  bool failed = false;
  for (int number = 1;; ++number) {
    TUL_Object* next = nullptr;
    const ValueReader::Status status = reader.next(&next);
    if (status != ValueReader::Status::kValue) return status == ValueReader::Status::kEnd && !failed ? kExitOk : kExitFailure;
    OwnedValue list(next);
    if (!(TUL_object_basic_type(next) & (TUL_SEQUENCEOF_TYPE | TUL_SETOF_TYPE))) {
      report("%s:%d: a value of type %s is no attribute list", input.name().c_str(), reader.value_line(),
             TUL_object_type(next));
      failed = true;
      continue;
    }
    const bool match = TUL_evaluate(filter.get(), next) != nullptr;
    std::printf("list %d: %s\n", number, match ? "match" : "no match");
  }
}

}  // namespace tul::cli
