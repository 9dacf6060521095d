// Framing of BER records for the commands that read them (decode and
// translate): one record after the other in raw octets or hexadecimal text,
// or, with --keep-going and --hex, one record per line so that a bad line
// costs only itself.
#include <climits>

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

// Records that follow one another in `all`. A record whose length cannot be
// read hides where the next one begins, so the run ends there whatever
// `go_on` says.
bool walk_stream(std::span<const uint8_t> all, const std::string& name, bool go_on, const RecordAction& action) {
  bool failed = false;
  std::size_t offset = 0;
  for (int record = 1; offset < all.size(); ++record) {
    const std::span<const uint8_t> rest = all.subspan(offset);
    const Frame frame = measure_element(rest);
    const std::size_t length = frame.complete ? frame.length : rest.size();
    if (!action(rest.first(length), frame, record_place(name, 0, record, offset))) {
      failed = true;
      if (!go_on || !frame.complete) return false;
    }
    offset += length;
  }
  return !failed;
}

bool is_blank_line(std::span<const uint8_t> line) {
  for (uint8_t c : line)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\f' && c != '\v') return false;
  return true;
}

// One record per non-blank line of hexadecimal text; octets after the
// record on its line make the record fail.
bool walk_lines(std::span<const uint8_t> text, const std::string& name, const RecordAction& action) {
  bool failed = false;
  std::size_t offset = 0;
  int record = 0;
  int line = 0;
  for (std::size_t begin = 0; begin < text.size();) {
    std::size_t end = begin;
    while (end < text.size() && text[end] != '\n') ++end;
    const std::span<const uint8_t> line_text = text.subspan(begin, end - begin);
    begin = end + 1;
    ++line;
    if (is_blank_line(line_text)) continue;
    ++record;
    std::vector<uint8_t> octets;
    if (!hex_to_octets(line_text, name, octets, line)) {
      report("%s: skipped", record_place(name, line, record, offset).c_str());
      failed = true;
      continue;
    }
    Frame frame = measure_element(octets);
    if (frame.complete && frame.length != octets.size())
      frame = {false, 0, std::to_string(octets.size() - frame.length) + " octets after the record on its line"};
    failed = !action(octets, frame, record_place(name, line, record, offset)) || failed;
    offset += octets.size();
  }
  return !failed;
}

}  // namespace

bool for_each_record(const Invocation& inv, const std::string& path, bool go_on, const RecordAction& action) {
  InputFile input(path);
  std::vector<uint8_t> octets;
  if (!input.ok() || !read_all(input, octets)) return false;
  go_on = go_on || inv.keep_going;
  if (inv.hex && inv.keep_going) return walk_lines(octets, input.name(), action);
  if (inv.hex) {
    std::vector<uint8_t> text;
    text.swap(octets);
    if (!hex_to_octets(text, input.name(), octets)) return false;
  }
  return walk_stream(octets, input.name(), go_on, action);
}

void print_record_value(TUL_Object* value, const Invocation& inv) {
  if (!inv.json) return TUL_print(value, stdout);
  if (!TUL_print_json(value, stdout)) report("cannot write a %s value as JSON", TUL_object_type(value));
}

}  // namespace tul::cli
