// Shared set-up of the queue tests: a private object-name prefix, a scratch directory for
// catalog files, and direct access to the section for checks and for damaging it.
#ifndef VENDRITHANE_TESTS_MONITORFIXTURE_H
#define VENDRITHANE_TESTS_MONITORFIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "helpers/PeerProcess.h"
#include "helpers/ScratchDir.h"
#include "monitor/CatalogKey.h"
#include "monitor/SectionLayout.h"
#include "platform/ObjectNames.h"
#include "platform/SharedObject.h"

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = vdtest::useTestPrefix();
    dir_ = scratch_.path();
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    section_.reset();
    vdtest::removeTestObjects(prefix_);
    EXPECT_EQ(scratch_.remove(), std::error_code()) << dir_;
  }

  // Creates an (empty) catalog main file and returns its path.
  std::string catalog(const std::string& name) {
    std::string path = dir_ + name;
    std::ofstream(path).put('\0');
    return path;
  }

  KESTRIN::Vendrithane::monitor::SectionLayout* section() {
    using namespace KESTRIN::Vendrithane;
    if (!section_.valid())
      section_ = platform::SharedObject(platform::objectPath(monitor::sectionName()),
                                        sizeof(monitor::SectionLayout));
    return static_cast<monitor::SectionLayout*>(section_.data());
  }

  // Slots whose key is set.
  int usedSlots() {
    int used = 0;
    for (auto& slot : section()->slots) used += slot.key[0] != 0;
    return used;
  }

  // Object files of catalog K that exist now.
  int catalogObjects(const std::string& k) {
    EXPECT_EQ(k.size(), 36u);
    int n = 0;
    for (const auto& name : vdtest::listTestObjects(prefix_))
      n += name.find(k) != std::string::npos;
    return n;
  }

  vdtest::ScratchDir scratch_{"vdqueue-"};
  std::string prefix_, dir_;
  KESTRIN::Vendrithane::platform::SharedObject section_;
};

#endif  // VENDRITHANE_TESTS_MONITORFIXTURE_H
