// Shared declarations of the tul program. The program is a thin shell over
// the public header: it frames its input (files, BER records, typed values),
// calls the library, and turns the library's error objects into messages that
// name the file and the line or record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tul.h"

namespace tul::cli {

// Exit statuses: success, input that could not be read, parsed, encoded or
// decoded, and a command line that makes no sense.
enum ExitStatus { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

enum class Command {
  kNone, kDecode, kEncode, kPrint, kTypes, kDescribe, kStore, kList, kCheck, kHeader, kTranslate, kFilter, kHtml,
  kImport, kListen
};

struct Invocation {
  Command command = Command::kNone;
  std::vector<std::string> arguments;  // positional arguments after the command
  std::vector<std::string> defs;       // definition files, in order
  bool hex = false;
  bool final_description = false;
  bool all_types = false;
  bool trace_ber = false;
  bool oid_labels = false;
  bool verbose = false;
  bool strict = false;  // a record whose identifier the type does not expect fails
  bool raw_any = false;
  bool value = false;      // html: document a value as well
  std::string value_file;  // ... read from this file
  bool check = false;  // import: parse and resolve only
  bool store = false;      // import: write the dictionary to a persistence file
  std::string store_file;  // ... of this name
  bool keep_going = false;  // report a failed record and go on with the next
  bool strict_integers = false;  // keep the library's 32-bit INTEGER values
  bool json = false;             // print values as JSON lines
  bool plain = false;            // no text comments after octet strings
  bool pcap = false;             // decode, translate: records from a capture
  std::string pcap_file;         // ... in this file
  bool port_given = false;       // --port: the UDP port of the capture or listener
  std::string port_text;
  int port = -1;                 // ... as a number; -1: the default ports
  bool count_given = false;      // listen: stop after this many datagrams
  std::string count_text;
  long count = 0;
  bool translate = false;        // listen: translate instead of decode
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

// Turns hexadecimal text (pairs of digits, white space anywhere) into octets.
// False, with a message naming `name` and the line, on any other character
// or an odd number of digits.
bool hex_to_octets(std::span<const uint8_t> text, const std::string& name,
                   std::vector<uint8_t>& octets, int first_line = 1);

// hex_to_octets for text that arrives in pieces: a pair of digits may be
// split between two pieces.
class HexDecoder {
 public:
  explicit HexDecoder(const std::string& name, int first_line = 1) : name_(name), line_(first_line) {}
  // Appends the octets of `text`. False, with a message, on a character
  // that is neither a digit nor white space.
  bool feed(std::span<const uint8_t> text, std::vector<uint8_t>& octets);
  // False, with a message, when a digit is left without its pair.
  bool finish() const;

 private:
  const std::string& name_;
  int line_;
  int high_ = -1;  // pending first digit of a pair
};

// Writes the octets as upper-case hexadecimal digits and a newline.
void write_hex_line(std::span<const uint8_t> octets, FILE* out);
// The octets as upper-case hexadecimal digits, two per octet.
std::string hex_text(std::span<const uint8_t> octets);

// Reads typed values one after the other from a value-notation file.
class ValueReader {
 public:
  enum class Status { kValue, kEnd, kError };

  ValueReader(TUL_Metadata* md, const InputFile& input) : md_(md), input_(input) {}

  // kValue: `*value` is a new value the caller frees. kEnd: only white
  // space and comments were left. kError: the message is written.
  Status next(TUL_Object** value);
  // After a value that did not parse: steps to the next line that begins
  // with a letter, where the next value is taken to begin. False at the end
  // of the input or on a read error.
  bool resync();
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

// ---- records.cc ----------------------------------------------------------

// Outcome of measuring the BER element at the start of some octets.
struct Frame {
  bool complete;        // the whole element is present and well formed
  std::size_t length;   // identifier, length and contents octets, when complete
  std::string problem;  // what is wrong, when not complete
};

// Measures the record at the start of `octets` with the library's own reader.
Frame measure_element(std::span<const uint8_t> octets);
// Measures a record that must fill `octets` (a line, a datagram): octets
// after it fail it, the problem saying "N octets after the record WHERE".
Frame whole_record(std::span<const uint8_t> octets, const char* where);

// Handles one record: its octets (all that is left when it could not be
// measured), how it measured, and the text that names it in messages. False
// when the record failed, with the message written.
using RecordAction = std::function<bool(std::span<const uint8_t>, const Frame&, const std::string&)>;

// Reads the BER records of the file at `path` (hexadecimal text with --hex;
// one record per line with --hex and --keep-going; the UDP payloads of a
// capture with --pcap) as they arrive and hands each to `action`. After a failed record the run goes on when `go_on` or
// --keep-going says so and the next record can be found. False when the
// input could not be read or any record failed.
bool for_each_record(const Invocation& inv, const std::string& path, bool go_on, const RecordAction& action);

// ---- capture.cc ----------------------------------------------------------

// Hands the UDP payload of each packet of the --pcap capture to or from the
// ports of --port (161 and 162 without it) to `action`, one record each.
// Frames of other kinds and IP fragments are counted in a warning. False
// when the capture cannot be read or a record failed (after a failed record
// the run goes on with `go_on`).
bool for_each_packet(const Invocation& inv, bool go_on, const RecordAction& action);

// ---- listen.cc -----------------------------------------------------------

// Receives datagrams on the UDP port of --port (162 without it; 0: one the
// system picks) on every local address and hands each to `action` until
// SIGINT or SIGTERM (the datagrams queued by then are still handled) or
// until --count datagrams were received. The port and, at the end, the
// counts go to standard error. False when listening failed or any record
// failed.
bool for_each_datagram(const Invocation& inv, const RecordAction& action);

// ---- records.cc (continued) -----------------------------------------------

// Prints a value read from a record: value notation, or a JSON line with
// --json.
void print_record_value(TUL_Object* value, const Invocation& inv);


// ---- defs.cc --------------------------------------------------------------

// Enters the definitions at `path` (a bare name is also looked for among the
// installed ones): a persistence file or directory, or a definitions file.
// False, with a message written, when they cannot be read or hold anything
// but definitions.
bool load_definitions(TUL_Metadata* md, const std::string& path);

// ---- commands.cc ----------------------------------------------------------

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
// not fit, followed by the note on how wide INTEGER values are.
std::string decode_error_text(TUL_Metadata* md, TUL_Object* error);
// After a failed decode: a second line under the record's message naming
// the member path, offset and tag where the decode stopped, when the
// library recorded them.
void report_decode_position(const std::string& where);

int run_translate(TUL_Metadata* md, const Invocation& inv);
int run_filter(TUL_Metadata* md, const Invocation& inv);
// ---- annotate.cc ----------------------------------------------------------

// Makes the OCTET STRING values of `md` print with their text (or the
// dotted quad of an IpAddress) in a comment after the octets.
void annotate_octet_strings(TUL_Metadata* md);

// ---- html.cc --------------------------------------------------------------

int run_html(TUL_Metadata* md, const Invocation& inv);
// ---- import.cc ------------------------------------------------------------

// Whether the file holds ASN.1 modules: named .asn or .asn1, or starting
// like a module.
bool is_module_file(const std::string& path);

// Enters the --defs files in order; consecutive module files are imported
// as one batch. False, with the messages written, on the first failure.
bool load_all_definitions(TUL_Metadata* md, const Invocation& inv);
// Imports the module files as one batch; diagnostics go to standard error
// (warnings only when `verbose`). False when any assignment was rejected.
bool import_definitions(TUL_Metadata* md, const std::vector<std::string>& paths, bool verbose);

int run_import(TUL_Metadata* md, const Invocation& inv);

}  // namespace tul::cli
