// Persistence files: the writer of the current text format and the readers
// of it and of the legacy binary format. A file is read whole into memory
// and parsed with every count and length checked against what remains, so a
// damaged file is rejected without reading past it. Both formats share one
// record reader per kind, told apart by the primitive readers they use.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dict.h"
#include "hash.h"
#include "mem.h"
#include "tulversion.h"

namespace tul::dict {
namespace {

constexpr std::string_view kLegacySignature = "DTD persistence file format V.0.5";
constexpr size_t kMaxStoredString = 511;
constexpr size_t kMaxNumberText = 19;
constexpr int32_t kLegacyMaxItems = 256;  // members of a type, items of a notification
constexpr int32_t kUncarried = -2;        // scratch slot of a string the format cannot hold

// Each unique string has a 32-bit scratch cell in front of its characters
// that numbers it while a file is written.
int32_t string_slot(const char* s) {
  int32_t v;
  std::memcpy(&v, s - 4, sizeof v);
  return v;
}
void set_string_slot(char* s, int32_t v) { std::memcpy(s - 4, &v, sizeof v); }

bool is_carried(const char* s) {
  size_t n = std::strlen(s);
  return n <= kMaxStoredString && !std::memchr(s, '\n', n);
}

/* ------------------------------------------------------------------------
 * Writing
 * ---------------------------------------------------------------------- */

// The file being written. A regular file (or none yet) is written under a
// temporary name and renamed over the target only when complete, so a
// failed store never leaves a half-written file where a good one stood.
// Anything else (a device, a pipe, a symbolic link) is written in place.
class OutputFile {
 public:
  explicit OutputFile(const char* path) : path_(path) {
    struct stat st;
    bool replace = lstat(path, &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode);
    if (replace) {
      temp_ = path_ + ".tmp" + std::to_string(getpid());
      int fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC, 0666);
      if (fd >= 0 && !(file_ = fdopen(fd, "wb"))) close(fd);
      if (!file_) temp_.clear();
    }
    if (!file_) file_ = std::fopen(path, "wb");
  }
  ~OutputFile() {
    if (file_) std::fclose(file_);
    if (!temp_.empty()) unlink(temp_.c_str());
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  FILE* get() const { return file_; }
  // Closes the file and puts it in place; false on a write error.
  bool commit() {
    bool ok = !std::ferror(file_);
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (ok && !temp_.empty()) ok = std::rename(temp_.c_str(), path_.c_str()) == 0;
    if (ok) temp_.clear();
    return ok;
  }

 private:
  std::string path_;
  std::string temp_;
  FILE* file_ = nullptr;
};

struct Writer {
  FILE* out;
  bool uncarried = false;  // a record refers to a string the format cannot hold
  int32_t next_index = 0;

  void number(int32_t v) {
    char text[16];
    char* end = std::to_chars(text, text + sizeof text - 1, v).ptr;
    *end++ = ',';
    std::fwrite(text, 1, static_cast<size_t>(end - text), out);
  }
  void string(const char* s) {
    int32_t index = s ? string_slot(s) : -1;
    if (index == kUncarried) uncarried = true;
    number(index);
  }
  void enums(int32_t count, const TUL_EnumList* list) {
    number(count);
    for (int32_t i = 0; i < count; ++i) {
      string(list[i].name);
      number(list[i].val);
    }
  }
};

void number_string(void* text, void* data) {
  auto* w = static_cast<Writer*>(data);
  auto* s = static_cast<char*>(text);
  // A string that cannot be carried keeps its place in the list as an empty
  // line, so the indexes of the others stay right.
  bool carried = is_carried(s);
  set_string_slot(s, carried ? w->next_index : kUncarried);
  ++w->next_index;
  if (carried) std::fputs(s, w->out);
  std::fputc('\n', w->out);
}

void write_type(void* entry, void* data) {
  auto* e = static_cast<TUL_Asn1TypeEntry*>(entry);
  auto* w = static_cast<Writer*>(data);
  w->string(e->name);
  w->number(e->tag_flag);
  w->number(e->tag_val);
  w->string(e->type);
  w->number(e->size);
  for (int32_t i = 0; i < e->size; ++i) {
    const TUL_Asn1Type& m = e->members[i];
    w->string(m.name);
    w->number(m.tag_flag);
    w->number(m.tag_val);
    w->string(m.type);
    w->string(m.anydefbyId);
    w->number(m.opt_def);
    w->enums(m.enums, m.enum_list);
  }
  w->enums(e->enums, e->enum_list);
  std::fputc('\n', w->out);
}

// Template records: the registration, the kind's syntax fields, the label,
// and for notifications the items.
void write_template(void* entry, void* data) {
  auto* e = static_cast<TUL_Entry*>(entry);
  auto* w = static_cast<Writer*>(data);
  const TemplateKind& kind = *template_kind(e->entry_type);
  w->string(e->name);
  for (const FieldSource& source : kind.sources)
    if (source.offset) w->string(string_field(e, source.offset));
  w->string(string_field(e, offsetof(TUL_AttributeEntry, label)));
  if (e->entry_type == TUL_ENTRY_NOTIFICATION) {
    auto* n = reinterpret_cast<TUL_NotificationEntry*>(e);
    w->number(n->size);
    for (int32_t i = 0; i < n->size; ++i) {
      w->string(n->ids[i].field_name);
      w->string(n->ids[i].attribute);
    }
  }
  std::fputc('\n', w->out);
}

int store(TUL_Metadata* dtd, const char* filename) {
  OutputFile file(filename);
  if (!file.get()) {
    TUL_trace_error(TUL_ERR_OPEN, filename);
    return TUL_ERR_OPEN;
  }
  Writer w{file.get()};
  std::fprintf(w.out, "%s\n", TUL_format_version());
  TULH_HT* strings = hash::strings();
  w.number(strings ? strings->count : 0);
  TULH_for_each(strings, number_string, &w);
  w.number(dtd->asn1_types->count);
  TULH_for_each(dtd->asn1_types, write_type, &w);
  for (int entry_type : kIndexOrder) {
    const TemplateKind& kind = *template_kind(entry_type);
    if (!kind.title) continue;
    w.number((dtd->*kind.table)->count);
    TULH_for_each(dtd->*kind.table, write_template, &w);
  }
  if (w.uncarried) {
    TUL_trace_error(TUL_ERR_LIMIT, "persistence file string");
    return TUL_ERR_LIMIT;
  }
  if (!file.commit()) {
    TUL_trace_error(TUL_ERR_OPEN, filename);
    return TUL_ERR_OPEN;
  }
  return 0;
}

/* ------------------------------------------------------------------------
 * Reading: the two formats' primitives
 * ---------------------------------------------------------------------- */

// What both readers share: the bytes, the position, the first fault, and
// the checks of counts and lengths against what remains.
template <class Self>
class ByteReader {
 public:
  ByteReader(std::string_view bytes, size_t pos) : bytes_(bytes), pos_(pos) {}
  int fault() const { return fault_; }
  size_t remaining() const { return bytes_.size() - pos_; }
  // Line of the current position, counted from 1.
  int line() const {
    return 1 + static_cast<int>(std::count(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(pos_), '\n'));
  }
  bool fail(int code = TUL_ERR_SIGNATURE) {
    if (!fault_) fault_ = code;
    return false;
  }
  // A count of things made of at least `numbers` numbers each: never more
  // than the rest of the file can hold, nor more than `limit`.
  bool count(int32_t& n, size_t numbers, int32_t limit = INT32_MAX) {
    if (!static_cast<Self*>(this)->number(n)) return false;
    if (n < 0 || n > limit || static_cast<size_t>(n) > remaining() / (numbers * Self::kMinNumber)) return fail();
    return true;
  }
  // Interns the `n` bytes at the position.
  bool intern(size_t n, char*& out) {
    char text[kMaxStoredString + 1];
    if (n > kMaxStoredString || n > remaining()) return fail();
    std::memcpy(text, bytes_.data() + pos_, n);
    text[n] = '\0';
    pos_ += n;
    out = TUL_unique_string(text);
    return out || fail(TUL_ERR_MEMORY);
  }

 protected:
  std::string_view bytes_;
  size_t pos_;
  int fault_ = 0;
};

// The current format: decimal number texts ending in commas, strings by
// their index in the string list at the head of the file.
class TextReader : public ByteReader<TextReader> {
 public:
  static constexpr bool kLegacy = false;
  static constexpr size_t kMinNumber = 2;  // a digit and the comma
  static constexpr size_t kTypeNumbers = 6, kMemberNumbers = 7;
  using ByteReader::ByteReader;

  // As atol would read it, in 32 bits: leading white space skipped, digits
  // up to the first other character, the rest of the text up to the comma
  // ignored.
  bool number(int32_t& v) {
    while (pos_ < bytes_.size() && is_space(bytes_[pos_])) ++pos_;
    size_t comma = bytes_.find(',', pos_);
    if (comma == std::string_view::npos || comma - pos_ > kMaxNumberText) return fail();
    std::string_view text = bytes_.substr(pos_, comma - pos_);
    pos_ = comma + 1;
    bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
    int64_t magnitude = 0;
    for (char c : text) {
      if (c < '0' || c > '9') break;
      magnitude = std::min<int64_t>(magnitude * 10 + (c - '0'), int64_t{INT32_MAX} + 1);
    }
    int64_t value = negative ? -magnitude : std::min<int64_t>(magnitude, INT32_MAX);
    v = static_cast<int32_t>(value);
    return true;
  }
  bool string(char*& s) {
    int32_t index;
    if (!number(index)) return false;
    if (index == -1) {
      s = nullptr;
      return true;
    }
    if (index < 0 || static_cast<size_t>(index) >= strings_.size()) return fail();
    s = strings_[index];
    return true;
  }
  bool end_record() {
    if (pos_ >= bytes_.size()) return fail();
    ++pos_;
    return true;
  }
  // The string list: a count, then one line per string.
  bool read_strings() {
    int32_t n;
    if (!count(n, 1)) return false;
    strings_ = {mem::alloc_array<char*>(static_cast<size_t>(n)), static_cast<size_t>(n)};
    table_.reset(strings_.data());
    if (!strings_.data()) return fail(TUL_ERR_MEMORY);
    for (char*& s : strings_) {
      size_t end = bytes_.find('\n', pos_);
      if (end == std::string_view::npos || !intern(end - pos_, s)) return fail();
      ++pos_;
    }
    return true;
  }

 private:
  static bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  std::span<char*> strings_;
  mem::CPtr<char*> table_;
};

// The legacy format: big-endian 32-bit integers, strings inline with their
// length in front.
class LegacyReader : public ByteReader<LegacyReader> {
 public:
  static constexpr bool kLegacy = true;
  static constexpr size_t kMinNumber = 4;  // an integer, or an empty string
  static constexpr size_t kTypeNumbers = 5, kMemberNumbers = 6;
  using ByteReader::ByteReader;

  bool number(int32_t& v) {
    uint32_t be;
    if (remaining() < sizeof be) return fail();
    std::memcpy(&be, bytes_.data() + pos_, sizeof be);
    pos_ += sizeof be;
    v = static_cast<int32_t>(ntohl(be));
    return true;
  }
  bool string(char*& s) {
    int32_t n;
    if (!number(n)) return false;
    s = nullptr;
    if (n < 0) return fail();
    return n == 0 || intern(static_cast<size_t>(n), s);
  }
  bool end_record() { return true; }
  // The string list only fills the unique-string table: records carry their
  // strings themselves.
  bool read_strings() {
    int32_t n;
    if (!count(n, 1)) return false;
    char* s;
    for (int32_t i = 0; i < n; ++i)
      if (!string(s)) return false;
    return true;
  }
};

/* ------------------------------------------------------------------------
 * Reading: records, shared by both formats
 * ---------------------------------------------------------------------- */

// A type record being read; owns its arrays until the dictionary has copied
// them.
struct TypeRecord {
  TUL_Asn1TypeEntry e{};
  TypeRecord() { e.entry_type = TUL_ENTRY_ASN1; }
  ~TypeRecord() {
    for (int32_t i = 0; i < e.size && e.members; ++i) mem::free(e.members[i].enum_list);
    mem::free(e.members);
    mem::free(e.enum_list);
  }
  TypeRecord(const TypeRecord&) = delete;
  TypeRecord& operator=(const TypeRecord&) = delete;
};

template <class Reader>
bool read_enums(Reader& r, int32_t& count, TUL_EnumList*& list) {
  if (Reader::kLegacy) return true;
  if (!r.count(count, 2)) return false;
  if (count == 0) return true;
  list = mem::zalloc_array<TUL_EnumList>(static_cast<size_t>(count));
  if (!list) {
    count = 0;
    return r.fail(TUL_ERR_MEMORY);
  }
  for (int32_t i = 0; i < count; ++i)
    if (!r.string(list[i].name) || !r.number(list[i].val)) return false;
  return true;
}

template <class Reader>
bool read_member(Reader& r, TUL_Asn1Type& m) {
  return r.string(m.name) && r.number(m.tag_flag) && r.number(m.tag_val) && r.string(m.type) &&
         r.string(m.anydefbyId) && r.number(m.opt_def) && read_enums(r, m.enums, m.enum_list);
}

template <class Reader>
bool read_type(Reader& r, TUL_Asn1TypeEntry& e) {
  int32_t size;
  if (!r.string(e.name) || !r.number(e.tag_flag) || !r.number(e.tag_val) || !r.string(e.type) ||
      !r.count(size, Reader::kMemberNumbers, Reader::kLegacy ? kLegacyMaxItems : INT32_MAX))
    return false;
  if (size > 0) {
    if (!(e.members = mem::zalloc_array<TUL_Asn1Type>(static_cast<size_t>(size)))) return r.fail(TUL_ERR_MEMORY);
    e.size = size;
  }
  for (int32_t i = 0; i < size; ++i)
    if (!read_member(r, e.members[i])) return false;
  return read_enums(r, e.enums, e.enum_list) && r.end_record();
}

// Template records: the registration, the kind's syntax fields (the legacy
// format has no reply syntax), the label, then a notification's items.
template <class Reader>
bool read_template(Reader& r, TUL_Entry* e, const TemplateKind& kind) {
  bool ok = r.string(e->name);
  for (int i = 0; i < kMaxStringFields; ++i)
    if (kind.sources[i].offset && !(Reader::kLegacy && i > 0))
      ok = ok && r.string(string_field(e, kind.sources[i].offset));
  ok = ok && r.string(string_field(e, offsetof(TUL_AttributeEntry, label)));
  if (!ok || e->entry_type != TUL_ENTRY_NOTIFICATION) return ok && r.end_record();
  auto* n = reinterpret_cast<TUL_NotificationEntry*>(e);
  int32_t size;
  if (!r.count(size, 2, Reader::kLegacy ? kLegacyMaxItems : INT32_MAX)) return false;
  if (size > 0) {
    if (!(n->ids = mem::zalloc_array<TUL_AndAttributeId>(static_cast<size_t>(size)))) return r.fail(TUL_ERR_MEMORY);
    n->size = size;
  }
  for (int32_t i = 0; i < size; ++i)
    if (!r.string(n->ids[i].field_name) || !r.string(n->ids[i].attribute)) return false;
  return r.end_record();
}

// A template record being read, of the size of its kind; owns a
// notification's items until the dictionary has copied them.
struct TemplateRecord {
  mem::CPtr<TUL_Entry> e;
  explicit TemplateRecord(const TemplateKind& kind) : e(static_cast<TUL_Entry*>(mem::zalloc(kind.record_size))) {
    if (e) e->entry_type = kind.entry_type;
  }
  ~TemplateRecord() {
    if (e && e->entry_type == TUL_ENTRY_NOTIFICATION) mem::free(reinterpret_cast<TUL_NotificationEntry*>(e.get())->ids);
  }
  TemplateRecord(const TemplateRecord&) = delete;
  TemplateRecord& operator=(const TemplateRecord&) = delete;
};

template <class Reader>
bool read_template_section(Reader& r, TUL_Metadata* dtd, const TemplateKind& kind) {
  int32_t count;
  if (!r.count(count, 2)) return false;
  for (int32_t i = 0; i < count; ++i) {
    TemplateRecord record(kind);
    if (!record.e) return r.fail(TUL_ERR_MEMORY);
    if (!read_template(r, record.e.get(), kind)) return false;
    _TUL_add_definition(dtd, record.e.get(), nullptr);
  }
  return true;
}

// The sections of a file after its string list: the types, then the
// template kinds in table order (the legacy format stops after parameters).
template <class Reader>
bool read_sections(Reader& r, TUL_Metadata* dtd) {
  if (!r.read_strings()) return false;
  int32_t count;
  if (!r.count(count, Reader::kTypeNumbers)) return false;
  for (int32_t i = 0; i < count; ++i) {
    TypeRecord record;
    if (!read_type(r, record.e)) return false;
    _TUL_add_definition(dtd, reinterpret_cast<TUL_Entry*>(&record.e), nullptr);
  }
  int sections = Reader::kLegacy ? 3 : kTemplateKinds;
  for (int k = 0; k < sections; ++k) {
    const TemplateKind& kind = *template_kind(kIndexOrder[k]);
    if (kind.title && !read_template_section(r, dtd, kind)) return false;
  }
  return true;
}

/* ------------------------------------------------------------------------
 * Reading: files and directories
 * ---------------------------------------------------------------------- */

struct LoadRun {
  TUL_Metadata* dtd;
  int first_error = 0;
  int line = 0;

  void fail(int code, const std::string& path, int at_line = 0) {
    if (code == TUL_ERR_MEMORY)
      TUL_trace_error(code);
    else
      TUL_trace_error(code, path.c_str());
    if (!first_error) {
      first_error = code;
      line = at_line;
    }
  }
};

// The whole file, or false when it cannot be opened or read (a directory
// given as a file included).
bool read_whole(const std::string& path, mem::CPtr<char>& data, size_t& size) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  size_t capacity = 0;
  size = 0;
  bool ok = true;
  for (;;) {
    if (size == capacity) {
      capacity = capacity ? 2 * capacity : 65536;
      auto* grown = static_cast<char*>(mem::realloc(data.get(), capacity));
      if (!grown) {
        ok = false;
        break;
      }
      (void)data.release();
      data.reset(grown);
    }
    size_t n = std::fread(data.get() + size, 1, capacity - size, f);
    size += n;
    if (n == 0) break;
  }
  ok = ok && !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The legacy signature: a length (at most 511 taken), then that many bytes
// read as text ending at the first NUL. Returns the position after it, or
// 0 when the bytes do not begin with it.
size_t legacy_signature_end(std::string_view bytes) {
  uint32_t be;
  if (bytes.size() < sizeof be) return 0;
  std::memcpy(&be, bytes.data(), sizeof be);
  int32_t length = static_cast<int32_t>(ntohl(be));
  if (length < 0) return 0;
  size_t n = std::min({static_cast<size_t>(length), kMaxStoredString, bytes.size() - sizeof be});
  std::string_view text = bytes.substr(sizeof be, n);
  text = text.substr(0, text.find('\0'));
  return text == kLegacySignature ? sizeof be + n : 0;
}

template <class Reader>
void read_format(LoadRun& run, const std::string& path, std::string_view bytes, size_t start) {
  Reader r(bytes, start);
  if (!read_sections(r, run.dtd)) run.fail(r.fault(), path, Reader::kLegacy ? 0 : r.line());
}

void read_file(LoadRun& run, const std::string& path) {
  mem::CPtr<char> data;
  size_t size = 0;
  if (!read_whole(path, data, size)) {
    run.fail(TUL_ERR_OPEN, path);
    return;
  }
  std::string_view bytes(data.get(), size);
  if (size_t end = legacy_signature_end(bytes)) return read_format<LegacyReader>(run, path, bytes, end);
  // Any first line that begins like the current signature is taken for it.
  std::string_view signature = TUL_format_version();
  size_t line_end = bytes.find('\n');
  if (bytes.substr(0, std::min<size_t>(3, line_end)) != signature.substr(0, 3))
    return run.fail(TUL_ERR_SIGNATURE, path);
  if (line_end == std::string_view::npos) return run.fail(TUL_ERR_SIGNATURE, path, 1);
  read_format<TextReader>(run, path, bytes, line_end + 1);
}

bool is_persistence_name(std::string_view name) {
  return name.size() >= 5 && (name.ends_with(".per") || name.ends_with(".dtd"));
}

// Reads `location` into the dictionary. Returns 12 when the location itself
// cannot be read; faults inside files are left in `run`.
int load(const char* location, LoadRun& run) {
  struct stat st;
  if (stat(location, &st) != 0) {
    TUL_trace_error(TUL_ERR_OPEN, location);
    return TUL_ERR_OPEN;
  }
  std::vector<std::string> paths;
  if (!S_ISDIR(st.st_mode)) {
    paths.emplace_back(location);
  } else {
    DIR* dir = opendir(location);
    if (!dir) {
      TUL_trace_error(TUL_ERR_OPEN, location);
      return TUL_ERR_OPEN;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, closedir);
    while (dirent* entry = readdir(dir))
      if (is_persistence_name(entry->d_name)) paths.push_back(std::string(location) + "/" + entry->d_name);
  }
  for (const std::string& path : paths) read_file(run, path);
  TUL_finalize(run.dtd);
  return 0;
}

// The checks of the exported loaders; the result of the location itself.
int load_checked(const char* location, LoadRun& run) {
  if (!run.dtd || !location) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "load_Metadata");
    return TUL_ERR_ARGUMENT;
  }
  try {
    return load(location, run);
  } catch (...) {
    run.fail(TUL_ERR_MEMORY, location);
    return 0;
  }
}

}  // namespace
}  // namespace tul::dict

extern "C" {

TUL_API int TUL_store_Metadata(TUL_Metadata* dtd, const char* filename) {
  if (!dtd || !filename) {
    TUL_trace_error(TUL_ERR_ARGUMENT, "store_Metadata");
    return TUL_ERR_ARGUMENT;
  }
  try {
    return tul::dict::store(dtd, filename);
  } catch (...) {
    TUL_trace_error(TUL_ERR_MEMORY);
    return TUL_ERR_MEMORY;
  }
}

TUL_API int TUL_load_Metadata_status(TUL_Metadata* dtd, const char* location, int* line) {
  tul::dict::LoadRun run{dtd};
  int code = tul::dict::load_checked(location, run);
  if (line) *line = run.line;
  return code ? code : run.first_error;
}

// Faults inside files are reported, not returned.
TUL_API int TUL_load_Metadata(TUL_Metadata* dtd, const char* location) {
  tul::dict::LoadRun run{dtd};
  return tul::dict::load_checked(location, run);
}

}  // extern "C"
