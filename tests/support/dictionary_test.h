// Shared fixtures: a fresh dictionary per test, released with the unique
// strings afterwards so the sanitizer build reports anything left behind.
#ifndef TUL_TESTS_SUPPORT_DICTIONARY_TEST_H
#define TUL_TESTS_SUPPORT_DICTIONARY_TEST_H

#include <gtest/gtest.h>

#include <string>

#include "dtd.h"
#include "mem.h"
#include "tul.h"

namespace tul::test {

class DictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    md = TUL_new_Metadata();
    ASSERT_NE(md, nullptr);
  }
  void TearDown() override {
    mem::fail_countdown = 0;
    TUL_set_option(TUL_OPTION_TRACE_ERROR, 1);
    TUL_free_Metadata(md);
    TUL_free_unique_strings();
  }

  // The text of an error object (or of any string value), "" for null.
  static std::string text_of(TUL_Object* obj) {
    char* s = obj ? TUL_read_str(obj) : nullptr;
    return s ? s : "";
  }

  // Parses the typed value `text` and enters it as a definition; fails the
  // test when either step does.
  void enter(const std::string& text) {
    TUL_Object* v = TUL_parse_str(md, text.c_str());
    EXPECT_TRUE(v && !v->error) << text << ": " << text_of(v);
    TUL_Object* entered = v && !v->error ? TUL_add_definition(md, v) : v;
    EXPECT_EQ(entered, v) << text << ": " << text_of(entered);
    if (entered != v) TUL_free(entered);
    TUL_free(v);
  }

  // The dictionary's type named `name`, null when there is none.
  TUL_Asn1TypeEntry* type(const char* name) const { return find_type(md, TUL_unique_string(name)); }

  TUL_Metadata* md = nullptr;
};

// Makes the allocation after `n - 1` successful ones fail, for the life of
// the guard.
class FailNthAllocation {
 public:
  explicit FailNthAllocation(long n) { mem::fail_countdown = n; }
  ~FailNthAllocation() { mem::fail_countdown = 0; }
  // True once the failure was injected (the countdown reached 0).
  bool fired() const { return mem::fail_countdown == 0; }
};

// Captures what the library writes to stderr while alive.
class StderrCapture {
 public:
  StderrCapture() { ::testing::internal::CaptureStderr(); }
  std::string take() {
    taken_ = true;
    return ::testing::internal::GetCapturedStderr();
  }
  ~StderrCapture() {
    if (!taken_) ::testing::internal::GetCapturedStderr();
  }

 private:
  bool taken_ = false;
};

// What the library writes to stderr while `call` runs.
template <class F>
std::string traced(F call) {
  StderrCapture capture;
  call();
  return capture.take();
}

}  // namespace tul::test

#endif
