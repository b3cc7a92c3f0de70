// Shared set-up of the asset persistence tests: an open catalog "cat" in a scratch
// directory, with raw and shell reads of its main file.
#ifndef VENDRITHANE_TESTS_ASSETCATALOGFIXTURE_H
#define VENDRITHANE_TESTS_ASSETCATALOGFIXTURE_H

#include <memory>
#include <string>

#include "node/NodeFixture.h"
#include "node/NodeImpl.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Node.h"

class AssetCatalog : public NodeTest {
 protected:
  void SetUp() override {
    NodeTest::SetUp();
    created("cat");
    node_ = std::make_unique<KESTRIN::Vendrithane::Node>("cat", dir_.c_str());
    ASSERT_EQ(node_->open(), 0);
    impl_ = KESTRIN::Vendrithane::NodeAccess::impl(*node_);
  }
  void TearDown() override {
    node_.reset();
    NodeTest::TearDown();
  }

  std::string mainFile() const { return dir_ + "cat.vd"; }
  // The first column of the rows of `sql` on the main file, one per line.
  std::string rows(const std::string& sql) { return raw(mainFile(), sql); }
  // The same on the blob file.
  std::string blobRows(const std::string& sql) { return raw(dir_ + "cat.vm", sql); }
  // A collection record of type `type` with a title, stored.
  KESTRIN::Vendrithane::Asset stored(const char* type, const char* title) {
    KESTRIN::Vendrithane::Asset a = node_->asset(type, true);
    a.element("title") = title;
    EXPECT_EQ(a.store(), 0);
    return a;
  }

  std::unique_ptr<KESTRIN::Vendrithane::Node> node_;
  KESTRIN::Vendrithane::NodeImpl* impl_ = nullptr;
};

#endif  // VENDRITHANE_TESTS_ASSETCATALOGFIXTURE_H
