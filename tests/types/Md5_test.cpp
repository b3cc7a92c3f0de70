// Tests of the MD5 helpers against the RFC 1321 test suite.
#include "types/Md5.h"

#include <gtest/gtest.h>

#include <cstring>

#include "vendrithane/Status.h"

namespace {

using namespace KESTRIN::Vendrithane;

TEST(Md5, ReferenceVectors) {
  const char* const kCases[][2] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(md5Hex(c[0], std::strlen(c[0])), c[1]) << '"' << c[0] << '"';
  }
  const Md5Digest raw = md5("abc", 3);
  EXPECT_EQ(raw[0], 0x90);
  EXPECT_EQ(raw[15], 0x72);
}

TEST(Md5, GroupedFormAndEmptyInput) {
  EXPECT_EQ(md5Grouped("", 0), "d41d8cd9-8f00-b204-e980-0998ecf8427e");
  EXPECT_EQ(md5Grouped("abc", 3), "90015098-3cd2-4fb0-d696-3f7d28e17f72");
  EXPECT_EQ(md5Hex(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_THROW(md5(nullptr, 1), Status);
}

}  // namespace
