// A header written by the source generator (the tul program's header
// command, run by the build), compiled in and loaded: it must give the same
// definitions as the stored persistence copy of the same definition file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "snmpv1_defs.h"
#include "support/dictionary_test.h"

namespace {

std::vector<std::string> described(TUL_Metadata* md) {
  std::vector<std::string> out;
  TUL_for_each_asn1_def(
      md,
      [](TUL_Object* v, void* data) {
        char* text = TUL_print2str(v);
        static_cast<std::vector<std::string>*>(data)->push_back(text ? text : "");
        free(text);
      },
      &out);
  std::sort(out.begin(), out.end());
  return out;
}

using GeneratedTest = tul::test::DictionaryTest;

TEST_F(GeneratedTest, CompiledHeaderHoldsTheStoredDefinitions) {
  ASSERT_EQ(TUL_load_Metadata_string(md, const_cast<char**>(snmpv1_defs)), 0);
  TUL_Metadata* stored = TUL_new_Metadata();
  ASSERT_EQ(TUL_load_Metadata(stored, TUL_EXAMPLES "/snmpv1.per"), 0);
  EXPECT_EQ(TUL_number_asn1_def(md), TUL_number_asn1_def(stored));
  EXPECT_GT(TUL_number_asn1_def(md), 100);
  EXPECT_EQ(described(md), described(stored));
  TUL_free_Metadata(stored);
}

}  // namespace
