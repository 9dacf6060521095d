// Definitions files: meta-schema values read one after the other from a
// text file, every message naming the file and the one line it is about.
// The text is read whole first, so that the end of the file is told apart
// from a value cut short without the parser's end-of-input trace, and so
// that a NUL byte cannot end the text early without a word.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "dict.h"
#include "parse.h"

namespace tul::dict {
namespace {

// Character source over the text, for the parser.
struct Source {
  const unsigned char* p;
  const unsigned char* end;
  bool read_char = false;  // the last call gave a character, not the end
};

int next_char(void* stream) {
  auto* s = static_cast<Source*>(stream);
  s->read_char = s->p < s->end;
  return s->read_char ? *s->p++ : -1;
}

// The library's reports would repeat the loader's without file names.
class QuietTrace {
 public:
  QuietTrace() : was_(TUL_get_option(TUL_OPTION_TRACE_ERROR)) { TUL_set_option(TUL_OPTION_TRACE_ERROR, 0); }
  ~QuietTrace() { TUL_set_option(TUL_OPTION_TRACE_ERROR, was_); }
  QuietTrace(const QuietTrace&) = delete;
  QuietTrace& operator=(const QuietTrace&) = delete;

 private:
  int was_;
};

// An error object's message without the "#NN " code, and, for a parse
// error, without its ", line: N" part, whose number is returned in `line`
// (unchanged when the message has none).
std::string plain_message(TUL_Object* error, int& line) {
  const char* text = error ? TUL_read_str(error) : nullptr;
  std::string message = text ? text : "";
  if (message.size() > 4 && message[0] == '#') message.erase(0, 4);
  const std::string::size_type at = message.find(", line: ");
  if (at == std::string::npos) return message;
  char* after = nullptr;
  const long number = std::strtol(message.c_str() + at + 8, &after, 10);
  if (after == message.c_str() + at + 8) return message;
  line = static_cast<int>(std::clamp(number, 1L, static_cast<long>(INT_MAX)));
  message.erase(at, static_cast<std::string::size_type>(after - message.c_str()) - at);
  return message;
}

struct Warning {
  int line;
  std::string text;
};

class Loader {
 public:
  Loader(TUL_Metadata* md, std::string_view text, const char* name, FILE* out)
      : md_(md), name_(name), out_(out),
        source_{reinterpret_cast<const unsigned char*>(text.data()),
                reinterpret_cast<const unsigned char*>(text.data()) + text.size()} {}

  int run() {
    if (int code = reject_nul()) return code;
    while (skip_to_value())
      if (int code = read_value()) return code;
    report_unresolved();
    return 0;
  }

 private:
  void say(int line, const char* format, ...) __attribute__((format(printf, 3, 4))) {
    std::fprintf(out_, "%s:%d: ", name_, line);
    va_list args;
    va_start(args, format);
    std::vfprintf(out_, format, args);
    va_end(args);
    std::fputc('\n', out_);
  }

  int reject_nul() {
    const unsigned char* nul = std::find(source_.p, source_.end, '\0');
    if (nul == source_.end) return 0;
    say(1 + static_cast<int>(std::min<ptrdiff_t>(std::count(source_.p, nul, '\n'), INT_MAX - 1)),
        "a NUL byte: this is binary data, not a text of definitions");
    return TUL_ERR_PARSE;
  }

  // Steps over the white space and comments ("--" to the next "--" or the
  // end of the line) before a value, counting lines as the parser does.
  // False at the end of the text.
  bool skip_to_value() {
    const unsigned char*& p = source_.p;
    while (p < source_.end) {
      if (*p == '\n') {
        if (line_ < INT_MAX) ++line_;
      } else if (*p == '-' && p + 1 < source_.end && p[1] == '-') {
        p += 2;
        while (p < source_.end && *p != '\n' && !(*p == '-' && p + 1 < source_.end && p[1] == '-')) ++p;
        if (p < source_.end && *p == '-') p += 2;
        continue;
      } else if (*p != ' ' && *p != '\t' && *p != '\r') {
        return true;
      }
      ++p;
    }
    return false;
  }

  int read_value() {
    value_line_ = line_;
    TULP_ParseContext ctx;
    parse::start_run(&ctx, md_, &source_, next_char, line_);
    TUL_Object* value = ctx.error ? ctx.error : TUL_parse_any(md_, &ctx);
    // The parser reads one character past the value; the next value, or
    // the comment that follows, starts with it.
    if (source_.read_char) --source_.p;
    line_ = ctx.line_nbr;
    if (!value || value->error) return parse_failed(value, ctx);
    return enter(value);
  }

  int parse_failed(TUL_Object* error, const TULP_ParseContext& ctx) {
    const int code = error ? error->error : TUL_ERR_PARSE;
    int line = ctx.line_nbr;
    const std::string message = code == TUL_ERR_EOF ? "the file ends inside a value" : plain_message(error, line);
    say(line, "%s", message.empty() ? "parse error" : message.c_str());
    TUL_free(error);
    return code;
  }

  int enter(TUL_Object* value) {
    const size_t seen = seen_;
    AddObserver observer{observe, this};
    TUL_Object* result = add_definition_value(md_, value, &observer);
    int code = 0;
    int line = value_line_;
    if (result != value) {
      code = result ? result->error : TUL_ERR_DEFINITION;
      if (seen_ == seen)
        say(value_line_, "a value of type %s is no definition; a definitions file holds meta-schema values such as "
                         "TUL.Asn1 { name 'Counter', type 'INTEGER' }",
            TUL_object_type(value));
      else
        say(value_line_, "%s", plain_message(result, line).c_str());
      TUL_free(result);
    }
    TUL_free(value);
    return code;
  }

  static void observe(TUL_Object*, char* key, Added added, void* data) {
    auto* self = static_cast<Loader*>(data);
    ++self->seen_;
    if (added == Added::kEntered && key) self->lines_.emplace(key, self->value_line_);
    if (added == Added::kIgnored)
      self->say(self->value_line_, "warning: '%s' is already defined; this definition is ignored",
                key ? key : "(no name)");
  }

  // Warnings for the references of this file's definitions that the
  // dictionary cannot resolve, in the order of the file.
  void report_unresolved() {
    std::vector<Warning> warnings;
    struct Walk {
      Loader* self;
      std::vector<Warning>* warnings;
    } walk{this, &warnings};
    for_each_unresolved(
        md_,
        [](const char* reference, const TUL_Entry* e, const char*, void* data) {
          auto* w = static_cast<Walk*>(data);
          char* key = e->entry_type == TUL_ENTRY_ASN1
                          ? e->name
                          : string_field(const_cast<TUL_Entry*>(e), offsetof(TUL_AttributeEntry, label));
          auto found = w->self->lines_.find(key);
          if (found == w->self->lines_.end()) return;
          w->warnings->push_back({found->second, std::string("warning: '") + key + "' refers to '" + reference +
                                                     "', which is not defined"});
        },
        &walk);
    std::stable_sort(warnings.begin(), warnings.end(),
                     [](const Warning& a, const Warning& b) { return a.line < b.line; });
    for (const Warning& w : warnings) say(w.line, "%s", w.text.c_str());
  }

  TUL_Metadata* md_;
  const char* name_;
  FILE* out_;
  Source source_;
  int line_ = 1;
  int value_line_ = 1;
  size_t seen_ = 0;                             // definitions the observer was told of
  std::unordered_map<const char*, int> lines_;  // interned key of each entered definition -> its line
};

}  // namespace

int load_definitions_text(TUL_Metadata* md, std::string_view text, const char* name, FILE* out) {
  QuietTrace quiet;
  return Loader(md, text, name, out).run();
}

}  // namespace tul::dict

extern "C" {

TUL_API int TUL_load_definitions_file(TUL_Metadata* md, const char* path, FILE* report) {
  if (!md || !path) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "load_definitions_file");
    return TUL_ERR_ARGUMENT;
  }
  FILE* out = report ? report : stderr;
  try {
    FILE* in = std::fopen(path, "rb");
    if (!in) {
      std::fprintf(out, "%s: cannot open: %s\n", path, std::strerror(errno));
      return TUL_ERR_OPEN;
    }
    std::string text;
    char chunk[8192];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, n);
    const bool read_error = std::ferror(in) != 0;
    std::fclose(in);
    if (read_error) {
      std::fprintf(out, "%s: read error\n", path);
      return TUL_ERR_OPEN;
    }
    return tul::dict::load_definitions_text(md, text, path, out);
  } catch (...) {
    std::fprintf(out, "%s: memory allocation error\n", path);
    return TUL_ERR_MEMORY;
  }
}

}  // extern "C"
