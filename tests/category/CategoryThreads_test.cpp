// The tree read by vd_cat_decendent and characterizeID on one thread, without the catalog's
// lock, while another thread stores, renames and removes categories.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "category/CategoryFixture.h"

using namespace KESTRIN::Vendrithane;

namespace {

class CategoryThreads : public CategoryCatalog {};

TEST_F(CategoryThreads, TreeReadersRunBesideChanges) {
  Category year = at("Kept", "2008");
  ASSERT_EQ(year.add(), 0);
  const std::string yearId = std::to_string(year.id());
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    String name;
    while (!done.load()) {
      EXPECT_EQ(node_->characterizeID(year.id(), name), ObjectCategory);
      const std::string count =
          query("SELECT count() FROM vd_cat_nde WHERE vd_cat_decendent(vd_id," + yearId + ");");
      EXPECT_GE(std::atoi(count.c_str()), 1) << count;
      reads.fetch_add(1);
    }
  });
  for (int i = 0; i < 60; ++i) {
    Category month = year;
    month.subCategory(std::to_string(i % 12 + 1).c_str());
    Category day = month;
    day.subCategory("01");
    EXPECT_EQ(day.add(), 0);
    EXPECT_EQ(day.label("02"), 0);
    EXPECT_EQ(month.remove(), 0);
  }
  while (reads.load() < 3) std::this_thread::yield();
  done = true;
  reader.join();
  EXPECT_EQ(query("SELECT count() FROM vd_cat_nde;"), "1");
  EXPECT_EQ(at("Kept", "2008").numChildren(), 0);
}

}  // namespace
