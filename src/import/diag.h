// Diagnostics of one import batch: every message carries the file, the
// position, the assignment or template it belongs to and its severity, and
// the batch keeps the counts the caller reports. Shared by every importer.
#ifndef TUL_IMPORT_DIAG_H
#define TUL_IMPORT_DIAG_H

#include <string>
#include <string_view>
#include <vector>

#include "tul.h"

namespace tul::import {

enum class Severity { kWarning = TUL_IMPORT_WARNING, kError = TUL_IMPORT_ERROR };

struct Position {
  int line = 0;
  int column = 0;
};

struct Diagnostic {
  Severity severity;
  std::string file;
  Position at;
  std::string item;  // assignment or template name, "" outside one
  std::string message;
};

class Diagnostics {
 public:
  void add(Severity severity, std::string_view file, Position at, std::string_view item, std::string message);
  void error(std::string_view file, Position at, std::string_view item, std::string message) {
    add(Severity::kError, file, at, item, std::move(message));
  }
  void warning(std::string_view file, Position at, std::string_view item, std::string message) {
    add(Severity::kWarning, file, at, item, std::move(message));
  }
  const std::vector<Diagnostic>& list() const { return list_; }
  int errors() const { return errors_; }
  int warnings() const { return warnings_; }

 private:
  std::vector<Diagnostic> list_;
  int errors_ = 0;
  int warnings_ = 0;
};

// Shortens a token for a message: damaged texts hold megabyte-long words.
std::string quote_token(std::string_view text);

}  // namespace tul::import

#endif
