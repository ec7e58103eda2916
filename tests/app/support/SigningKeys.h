#pragma once
// Two minisign key pairs made once for a test suite by the minisign tool:
// k1.pub and k1.key, k2.pub and k2.key, in a folder of their own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/TempDir.h"

namespace krevo::test {

// The base of a suite that signs with the two key pairs; each of its tests
// skips where the minisign tool is missing.
class SigningKeysTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("minisign -v >/dev/null 2>&1") != 0) return;
    keys_ = new TempDir();
    const std::string script = "cd '" + keys_->Folder() +
                               "' && minisign -G -W -p k1.pub -s k1.key >/dev/null"
                               " && minisign -G -W -p k2.pub -s k2.key >/dev/null";
    ASSERT_EQ(std::system(script.c_str()), 0);
  }
  static void TearDownTestSuite() {
    delete keys_;
    keys_ = nullptr;
  }
  void SetUp() override {
    if (!keys_) GTEST_SKIP() << "minisign is not installed";
  }

  // The base64 line of the public key file `pub` of the keys' folder.
  static std::string KeyLine(const std::string& pub = "k1.pub") {
    const std::string text = ReadFile(*keys_ / pub);
    const auto start = text.find('\n') + 1;
    return text.substr(start, text.find('\n', start) - start);
  }

  inline static TempDir* keys_ = nullptr;
};

}  // namespace krevo::test
