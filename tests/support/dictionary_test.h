// Shared fixtures: a fresh dictionary per test, released with the unique
// strings afterwards so the sanitizer build reports anything left behind.
#ifndef TUL_TESTS_SUPPORT_DICTIONARY_TEST_H
#define TUL_TESTS_SUPPORT_DICTIONARY_TEST_H

#include <gtest/gtest.h>

#include <string>

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

}  // namespace tul::test

#endif
