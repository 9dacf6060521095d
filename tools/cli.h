// Shared declarations of the tul program. The program is a thin shell over
// the public header: it frames its input (files, BER records, typed values),
// calls the library, and turns the library's error objects into messages that
// name the file and the line or record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "tul.h"

namespace tul::cli {

// Exit statuses: success, input that could not be read, parsed, encoded or
// decoded, and a command line that makes no sense.
enum ExitStatus { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

enum class Command {
  kNone, kDecode, kEncode, kPrint, kTypes, kDescribe, kStore, kList, kCheck, kHeader, kTranslate, kFilter, kHtml
};

struct Invocation {
  Command command = Command::kNone;
  std::vector<std::string> arguments;  // positional arguments after the command
  std::vector<std::string> defs;       // definition files, in order
  bool hex = false;
  bool final_description = false;
  bool trace_ber = false;
  bool oid_labels = false;
  bool verbose = false;
  bool strict = false;  // a record whose identifier the type does not expect fails
  bool raw_any = false;
  bool value = false;      // html: document a value as well
  std::string value_file;  // ... read from this file
};

// Writes "tul: " and the formatted message, plus a newline, to stderr.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- input.cc -------------------------------------------------------------

// An input file, or standard input for "-" or an empty path; closes what it
// opened. `name` is the text used in messages.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  FILE* stream() const { return stream_; }
  const std::string& name() const { return name_; }
  // False, with a message written, when the file could not be opened.
  bool ok() const { return stream_ != nullptr; }

 private:
  FILE* stream_ = nullptr;
  bool owned_ = false;
  std::string name_;
};

// Reads the rest of `input` into `octets`. False, with a message written, on
// a read error.
bool read_all(const InputFile& input, std::vector<uint8_t>& octets);
// Appends to `octets` what the stream has ready, up to `most` octets, waiting
// only for the first (a pipe gives records as they are written). Sets `*end`
// at the end of the input. False, with a message written, on a read error.
bool read_some(const InputFile& input, std::vector<uint8_t>& octets, std::size_t most, bool* end);

// Turns hexadecimal text (pairs of digits, white space anywhere) into octets.
// False, with a message naming `name` and the line, on any other character
// or an odd number of digits.
bool hex_to_octets(std::span<const uint8_t> text, const std::string& name,
                   std::vector<uint8_t>& octets);

// Writes the octets as upper-case hexadecimal digits and a newline.
void write_hex_line(std::span<const uint8_t> octets, FILE* out);

// Reads typed values one after the other from a value-notation file.
class ValueReader {
 public:
  enum class Status { kValue, kEnd, kError };

  ValueReader(TUL_Metadata* md, const InputFile& input) : md_(md), input_(input) {}

  // kValue: `*value` is a new value the caller frees. kEnd: only white
  // space and comments were left. kError: the message is written.
  Status next(TUL_Object** value);
  // Line on which the last value read (or attempted) begins.
  int value_line() const { return value_line_; }
  const std::string& name() const { return input_.name(); }

 private:
  bool skip_to_value();

  TUL_Metadata* md_;
  const InputFile& input_;
  int line_ = 1;
  int value_line_ = 1;
};

// The text of an error object: its message, or a plain note when the library
// gave no object at all.
std::string error_text(TUL_Object* error);

// ---- commands.cc ----------------------------------------------------------

// Reads the definition file at `path` and enters its values. False, with a
// message written, when it cannot be read or holds anything but definitions.
bool load_definitions(TUL_Metadata* md, const std::string& path);

int run_decode(TUL_Metadata* md, const Invocation& inv);
int run_encode(TUL_Metadata* md, const Invocation& inv);
int run_print(TUL_Metadata* md, const Invocation& inv);
int run_types(TUL_Metadata* md, const Invocation& inv);
int run_describe(TUL_Metadata* md, const Invocation& inv);

// ---- persist_commands.cc --------------------------------------------------

// Whether `path` is a directory or a file that begins with the signature of
// a persistence file (either format) rather than value notation.
bool is_persistence_path(const std::string& path);
// Enters the persistence file or directory at `path`. False, with a message
// naming the file (and the line, for the text format), on any fault.
bool load_persistence(TUL_Metadata* md, const std::string& path);

int run_store(TUL_Metadata* md, const Invocation& inv);
int run_list(TUL_Metadata* md, const Invocation& inv);
int run_check(TUL_Metadata* md, const Invocation& inv);
int run_header(TUL_Metadata* md, const Invocation& inv);
// ---- events.cc ------------------------------------------------------------

// The text of a decode's error object; for an INTEGER-based type that did
// not fit, followed by the note that INTEGER values are 32-bit.
std::string decode_error_text(TUL_Metadata* md, TUL_Object* error);

int run_translate(TUL_Metadata* md, const Invocation& inv);
int run_filter(TUL_Metadata* md, const Invocation& inv);
// ---- html.cc --------------------------------------------------------------

int run_html(TUL_Metadata* md, const Invocation& inv);

}  // namespace tul::cli
