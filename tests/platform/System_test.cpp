// Operating-system services: the other-process check, user and machine facts, the code page
// conversion and the mapping of object names to files.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "helpers/PeerProcess.h"
#include "platform/CodePage.h"
#include "platform/ObjectNames.h"
#include "platform/ProcessScan.h"
#include "platform/SystemInfo.h"

using namespace KESTRIN::Vendrithane;

namespace {

TEST(ProcessScanTest, SeesAnotherProcessMappingTheModuleButNotItself) {
  std::string self = platform::libraryModuleName();
  EXPECT_EQ(self, "platform_tests");               // the library's code is linked into this program
  EXPECT_EQ(platform::otherProcessMaps(self), 0);  // only this process maps it
  EXPECT_EQ(platform::otherProcessMaps("no-such-module-here.so"), 0);
  vdtest::PeerProcess peer("peer", {vdtest::useTestPrefix()});
  ASSERT_EQ(peer.call("echo up"), "up");
  EXPECT_EQ(platform::otherProcessMaps("pee"), 1);  // a prefix of the helper's file name
  peer.killNow();
  EXPECT_EQ(platform::otherProcessMaps("peer"), 0);
}

TEST(SystemInfoTest, UserMachineAndThread) {
  struct passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(platform::userName(), pw->pw_name);

  std::string id;
  std::ifstream in("/etc/machine-id");
  if (!(in && std::getline(in, id))) std::ifstream("/var/lib/dbus/machine-id") >> id;
  EXPECT_EQ(platform::machineId(), id);
  EXPECT_EQ(platform::machineId().find('\n'), std::string::npos);

  long other = 0;
  std::thread([&] { other = platform::threadId(); }).join();
  EXPECT_EQ(platform::threadId(), static_cast<long>(getpid()));  // the main thread
  EXPECT_NE(other, platform::threadId());
}

TEST(CodePageTest, Windows1252ToUtf8) {
  EXPECT_EQ(platform::windows1252ToUtf8("caf\xe9 \x80 \x9f", 8),
            "caf\xc3\xa9 \xe2\x82\xac \xc5\xb8");
  // The five undefined bytes become C1 controls, embedded zeros survive.
  EXPECT_EQ(platform::windows1252ToUtf8("\x81\x8d\x8f\x90\x9d", 5),
            "\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d");
  EXPECT_EQ(platform::windows1252ToUtf8("a\0b", 3), std::string("a\0b", 3));
  // Every byte converts to exactly one character; long inputs cross the buffer size.
  std::string all;
  for (int round = 0; round < 20; ++round)
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  std::string utf8 = platform::windows1252ToUtf8(all.data(), all.size());
  size_t characters = 0;
  for (unsigned char c : utf8) characters += (c & 0xC0) != 0x80;
  EXPECT_EQ(characters, all.size());
}

TEST(ObjectNamesTest, GlobalNamesMapToLowerCaseFilesWithoutSeparators) {
  std::string dir = platform::objectDirectory();
  EXPECT_EQ(dir, "/dev/shm/");
  EXPECT_EQ(platform::objectPath("Global\\Org.Test:AB/c\\d.mutex"), dir + "org.test:ab_c_d.mutex");
  EXPECT_EQ(platform::objectPath("global\\org.x.system"), dir + "org.x.system");
  EXPECT_EQ(platform::objectPath("plain.event"), dir + "plain.event");
  std::string prefix = vdtest::useTestPrefix();
  EXPECT_EQ(platform::objectPrefix(), prefix);
}

}  // namespace
