// Framing of BER records for the commands that read them (decode and
// translate): one record after the other in raw octets or hexadecimal text,
// or, with --keep-going and --hex, one record per line so that a bad line
// costs only itself.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace tul::cli {

Frame measure_element(std::span<const uint8_t> octets) {
  const char* problem = "";
  const long size = octets.size() > LONG_MAX ? LONG_MAX : static_cast<long>(octets.size());
  const long length = TUL_ber_length(octets.data(), size, &problem);
  if (length < 0) return {false, 0, problem};
  return {true, static_cast<std::size_t>(length), {}};
}

namespace {

std::string record_place(const std::string& name, int line, int record, std::size_t offset) {
  return name + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": record " + std::to_string(record) +
         " at offset " + std::to_string(offset);
}

// A frame that failed only because the octets end too early: more input
// may complete it.
bool cut_short(const Frame& frame) {
  return !frame.complete && (frame.problem.ends_with("cut short") || frame.problem == "no octets");
}

// The octets of an input as they arrive, raw or decoded from hexadecimal
// text. Only the octets not yet handed on are kept, so memory follows the
// largest record rather than the input.
class OctetStream {
 public:
  OctetStream(const InputFile& input, bool hex) : input_(input), hex_(hex), decoder_(input.name()) {}

  std::span<const uint8_t> rest() const { return std::span<const uint8_t>(octets_).subspan(begin_); }
  void consume(std::size_t n) { begin_ += n; }
  bool at_end() const { return at_end_; }

  // Reads at least as many more input octets as are held (at least one),
  // or up to the end of the input, taking what a pipe has as soon as that
  // is enough. Doubling keeps a large record linear to measure. False,
  // with a message, on a read error or text that is not hexadecimal.
  bool more() {
    octets_.erase(octets_.begin(), octets_.begin() + static_cast<std::ptrdiff_t>(begin_));
    begin_ = 0;
    const std::size_t want = std::max<std::size_t>(octets_.size(), 1);
    for (std::size_t got = 0; got < want;) {
      const ssize_t n = ::read(fileno(input_.stream()), chunk_.data(), chunk_.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        report("%s: read error: %s", input_.name().c_str(), std::strerror(errno));
        return false;
      }
      if (n == 0) {
        at_end_ = true;
        return !hex_ || decoder_.finish();
      }
      got += static_cast<std::size_t>(n);
      const std::span<const uint8_t> piece(chunk_.data(), static_cast<std::size_t>(n));
      if (!hex_)
        octets_.insert(octets_.end(), piece.begin(), piece.end());
      else if (!decoder_.feed(piece, octets_))
        return false;
    }
    return true;
  }

 private:
  const InputFile& input_;
  const bool hex_;
  HexDecoder decoder_;
  std::vector<uint8_t> octets_;
  std::size_t begin_ = 0;
  bool at_end_ = false;
  std::vector<uint8_t> chunk_ = std::vector<uint8_t>(64 * 1024);
};

// Measures the next record, reading more while the octets held end inside
// it. False on a read error.
bool next_frame(OctetStream& in, Frame& frame) {
  frame = measure_element(in.rest());
  while (cut_short(frame) && !in.at_end()) {
    if (!in.more()) return false;
    frame = measure_element(in.rest());
  }
  return true;
}

// Records that follow one another. A record whose length cannot be read
// hides where the next one begins, so the run ends there whatever `go_on`
// says.
bool walk_stream(OctetStream& in, const std::string& name, bool go_on, const RecordAction& action) {
  bool failed = false;
  std::size_t offset = 0;
  for (int record = 1;; ++record) {
    while (in.rest().empty() && !in.at_end())
      if (!in.more()) return false;
    if (in.rest().empty()) return !failed;
    Frame frame;
    if (!next_frame(in, frame)) return false;
    const std::span<const uint8_t> rest = in.rest();
    const std::size_t length = frame.complete ? frame.length : rest.size();
    if (!action(rest.first(length), frame, record_place(name, 0, record, offset))) {
      failed = true;
      if (!go_on || !frame.complete) return false;
    }
    in.consume(length);
    offset += length;
  }
}

bool is_blank_line(std::span<const uint8_t> line) {
  for (uint8_t c : line)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\f' && c != '\v' && c != '\n') return false;
  return true;
}

// One record per non-blank line of hexadecimal text; octets after the
// record on its line make the record fail.
bool walk_lines(const InputFile& input, const RecordAction& action) {
  const std::string& name = input.name();
  bool failed = false;
  std::size_t offset = 0;
  int record = 0;
  char* raw = nullptr;
  std::size_t capacity = 0;
  ssize_t size;
  for (int line = 1; (size = getline(&raw, &capacity, input.stream())) >= 0; ++line) {
    const std::span<const uint8_t> line_text(reinterpret_cast<const uint8_t*>(raw), static_cast<std::size_t>(size));
    if (is_blank_line(line_text)) continue;
    ++record;
    std::vector<uint8_t> octets;
    if (!hex_to_octets(line_text, name, octets, line)) {
      report("%s: skipped", record_place(name, line, record, offset).c_str());
      failed = true;
      continue;
    }
    failed = !action(octets, whole_record(octets, "on its line"), record_place(name, line, record, offset)) || failed;
    offset += octets.size();
  }
  std::free(raw);
  if (std::ferror(input.stream())) {
    report("%s: read error: %s", name.c_str(), std::strerror(errno));
    return false;
  }
  return !failed;
}

}  // namespace

Frame whole_record(std::span<const uint8_t> octets, const char* where) {
  Frame frame = measure_element(octets);
  if (frame.complete && frame.length != octets.size())
    frame = {false, 0, std::to_string(octets.size() - frame.length) + " octets after the record " + where};
  return frame;
}

bool for_each_record(const Invocation& inv, const std::string& path, bool go_on, const RecordAction& action) {
  if (inv.command == Command::kListen) return for_each_datagram(inv, action);
  if (inv.pcap) return for_each_packet(inv, go_on || inv.keep_going, action);
  InputFile input(path);
  if (!input.ok()) return false;
  if (inv.hex && inv.keep_going) return walk_lines(input, action);
  OctetStream stream(input, inv.hex);
  return walk_stream(stream, input.name(), go_on || inv.keep_going, action);
}

namespace {

// Writes all of `text` to standard output with as few writes as the system
// allows: one for a line the size of a datagram's value.
void write_at_once(const char* text, std::size_t size) {
  std::fflush(stdout);
  while (size > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, text, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void print_record_value(TUL_Object* value, const Invocation& inv) {
  char* text = inv.json ? TUL_print_json_string(value) : TUL_print2str(value);
  if (!text) {
    report("cannot write a %s value%s", TUL_object_type(value), inv.json ? " as JSON" : "");
    return;
  }
  std::string line = text;
  std::free(text);
  line += '\n';
  // A listener's values go out one by one as they are decoded; a file's
  // are buffered.
  if (inv.command == Command::kListen)
    write_at_once(line.data(), line.size());
  else
    std::fwrite(line.data(), 1, line.size(), stdout);
}

}  // namespace tul::cli
