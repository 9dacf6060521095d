// Loading the bundled definition files into a test's dictionary.
#ifndef TUL_TESTS_SUPPORT_DEFS_FILE_H
#define TUL_TESTS_SUPPORT_DEFS_FILE_H

#include <string>

#include "tul.h"

namespace tul::test {

// Enters every definition of the file at `path`; "" on success, else the
// loader's report and code.
std::string load_definitions_file(TUL_Metadata* md, const std::string& path);

// The path of a file in the examples folder.
std::string example_path(const std::string& name);

// The BER-String encoding of the typed value `text`, or the error object.
TUL_Object* encode_text(TUL_Metadata* md, const std::string& text);

}  // namespace tul::test

#endif
