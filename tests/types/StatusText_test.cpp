// The words for statuses: every value declared in the public header has its own text, and
// any other value reads "unknown status N".
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "vendrithane/Status.h"

namespace {

using KESTRIN::Vendrithane::statusText;

// The values declared in the public header, read from it, so that a status added later
// is walked too.
std::map<std::string, int> declaredStatuses() {
  std::string path = __FILE__;
  path = path.substr(0, path.rfind("/tests/")) + "/include/vendrithane/Status.h";
  std::ifstream in(path);
  std::map<std::string, int> declared;
  // Lines of the form "  StatusName = N,".
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string name, equals;
    int value;
    char comma;
    if (words >> name >> equals >> value >> comma && name.rfind("Status", 0) == 0 &&
        equals == "=" && comma == ',')
      declared[name] = value;
  }
  return declared;
}

TEST(StatusText, EveryStatusHasItsOwnWords) {
  const std::map<std::string, int> declared = declaredStatuses();
  ASSERT_GT(declared.size(), 40u);
  std::set<std::string> texts;
  for (const auto& status : declared) {
    const std::string text = statusText(status.second);
    EXPECT_FALSE(text.empty()) << status.first;
    EXPECT_NE(text.rfind("unknown status", 0), 0u) << status.first;
    EXPECT_TRUE(texts.insert(text).second) << status.first << ": " << text;
  }
  EXPECT_STREQ(statusText(KESTRIN::Vendrithane::StatusNotFound), "not found");

  EXPECT_STREQ(statusText(2), "unknown status 2");
  EXPECT_STREQ(statusText(-1), "unknown status -1");
  const char* first = statusText(1000);
  EXPECT_EQ(statusText(-2147483647 - 1), first);  // one buffer per thread, reused
  EXPECT_STREQ(first, "unknown status -2147483648");
  std::string other;
  std::thread([&] { other = statusText(999); }).join();
  EXPECT_EQ(other, "unknown status 999");
  EXPECT_STREQ(first, "unknown status -2147483648");
}

}  // namespace
