// Input of the tul program: files or standard input, hexadecimal text, and
// typed values read one after the other. Values are read straight from the
// stream by the library's parser; the program only steps over the white space
// and comments between them, so that the end of a file is told apart from a
// value cut short.
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include <unistd.h>

#include "cli.h"

namespace tul::cli {

void report(const char* format, ...) {
  // What was printed before the failure comes first on a shared terminal.
  std::fflush(stdout);
  std::fputs("tul: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

InputFile::InputFile(const std::string& path) {
  if (path.empty() || path == "-") {
    stream_ = stdin;
    name_ = "<stdin>";
    return;
  }
  name_ = path;
  stream_ = std::fopen(path.c_str(), "rb");
  owned_ = stream_ != nullptr;
  if (!stream_) report("cannot open '%s': %s", path.c_str(), std::strerror(errno));
}

InputFile::~InputFile() {
  if (owned_) std::fclose(stream_);
}

namespace {

int hex_digit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

}  // namespace

bool HexDecoder::feed(std::span<const uint8_t> text, std::vector<uint8_t>& octets) {
  for (uint8_t c : text) {
    if (c == '\n') ++line_;
    if (is_space(c)) continue;
    const int digit = hex_digit(c);
    if (digit < 0) {
      if (c >= 32 && c < 127)
        report("%s:%d: '%c' is not a hexadecimal digit", name_.c_str(), line_, c);
      else
        report("%s:%d: byte 0x%02X is not a hexadecimal digit", name_.c_str(), line_, c);
      return false;
    }
    if (high_ < 0) {
      high_ = digit;
    } else {
      octets.push_back(static_cast<uint8_t>(high_ << 4 | digit));
      high_ = -1;
    }
  }
  return true;
}

bool HexDecoder::finish() const {
  if (high_ < 0) return true;
  report("%s:%d: odd number of hexadecimal digits", name_.c_str(), line_);
  return false;
}

bool hex_to_octets(std::span<const uint8_t> text, const std::string& name,
                   std::vector<uint8_t>& octets, int first_line) {
  HexDecoder decoder(name, first_line);
  return decoder.feed(text, octets) && decoder.finish();
}

std::string hex_text(std::span<const uint8_t> octets) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * octets.size());
  for (uint8_t c : octets) {
    text += kDigits[c >> 4];
    text += kDigits[c & 0xF];
  }
  return text;
}

void write_hex_line(std::span<const uint8_t> octets, FILE* out) {
  const std::string text = hex_text(octets);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fputc('\n', out);
}

std::string error_text(TUL_Object* error) {
  if (!error) return "failed without a message from the library (try --verbose)";
  const char* text = TUL_read_str(error);
  if (text && *text) return text;
  return "error " + std::to_string(error->error) + " without a message";
}

// Steps over the blanks, newlines and comments ("--" to the next "--" or the
// end of the line) that may stand between values, counting lines as the
// parser does. False at the end of the input.
bool ValueReader::skip_to_value() {
  FILE* in = input_.stream();
  for (;;) {
    int c = std::fgetc(in);
    if (c == EOF) return false;
    if (c == '\n') {
      ++line_;
    } else if (c == '-') {
      int next = std::fgetc(in);
      if (next != '-') {
        // A lone "-" starts no value; the parser reports what follows it.
        if (next == EOF) return false;
        std::ungetc(next, in);
        return true;
      }
      int previous = 0;
      while ((c = std::fgetc(in)) != EOF && c != '\n' && !(previous == '-' && c == '-'))
        previous = c;
      if (c == '\n') ++line_;
      if (c == EOF) return false;
    } else if (c != ' ' && c != '\t') {
      std::ungetc(c, in);
      return true;
    }
  }
}

bool ValueReader::resync() {
  FILE* in = input_.stream();
  for (int c = 0, previous = 0; (c = std::fgetc(in)) != EOF; previous = c) {
    if (c == '\n') ++line_;
    if (previous == '\n' && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
      std::ungetc(c, in);
      return true;
    }
  }
  return false;
}

ValueReader::Status ValueReader::next(TUL_Object** value) {
  *value = nullptr;
  if (!skip_to_value()) {
    if (std::ferror(input_.stream())) {
      report("%s: read error: %s", name().c_str(), std::strerror(errno));
      return Status::kError;
    }
    return Status::kEnd;
  }
  value_line_ = line_;
  TUL_Object* obj = TUL_parse(md_, input_.stream(), &line_);
  if (!obj || obj->error) {
    // The library's message gives the line of the offending token; the
    // prefix names the value it belongs to.
    report("%s:%d: %s", name().c_str(), value_line_, error_text(obj).c_str());
    TUL_free(obj);
    return Status::kError;
  }
  *value = obj;
  return Status::kValue;
}

}  // namespace tul::cli
