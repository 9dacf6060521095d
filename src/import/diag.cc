// Collection of import diagnostics and the quoting of offending tokens.
#include "diag.h"

#include <cstdio>

namespace tul::import {

void Diagnostics::add(Severity severity, std::string_view file, Position at, std::string_view item,
                      std::string message) {
  (severity == Severity::kError ? errors_ : warnings_)++;
  list_.push_back({severity, std::string(file), at, std::string(item), std::move(message)});
}

std::string quote_token(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string out = "'";
  for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  if (text.size() > kShown) out += "...";
  return out + "'";
}

}  // namespace tul::import
