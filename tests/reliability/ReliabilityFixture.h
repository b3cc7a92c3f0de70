// Shared set-up of the crash and concurrency tests: a private object-name prefix, a scratch
// directory removed afterwards, raw reads and the engine's integrity check of catalog files
// through the catalog VFS, a watchdog for calls that must not hang, and the reading of a
// catalog's records into the model the crash helpers keep.
#ifndef VENDRITHANE_TESTS_RELIABILITY_RELIABILITYFIXTURE_H
#define VENDRITHANE_TESTS_RELIABILITY_RELIABILITYFIXTURE_H

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "ReliabilityContent.h"
#include "helpers/PeerProcess.h"
#include "helpers/ScratchDir.h"
#include "node/CatalogVfs.h"
#include "vendrithane/Node.h"

class ReliabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = vdtest::useTestPrefix();
    dir_ = scratch_.path();
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    vdtest::removeTestObjects(prefix_);
    EXPECT_EQ(scratch_.remove(), std::error_code()) << dir_;
  }

  std::string mainFile(const std::string& name) const { return dir_ + name + ".vd"; }
  std::string blobFile(const std::string& name) const { return dir_ + name + ".vm"; }

  // Runs `sql` on a connection of its own through the catalog VFS; the first column of each
  // row, or "error N" when the file cannot be opened or the statement fails.
  static std::vector<std::string> rawRows(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE,
                             KESTRIN::Vendrithane::node::catalogVfsName());
    std::vector<std::string> rows;
    if (rc == SQLITE_OK) {
      sqlite3_busy_timeout(db, 10000);
      rc = sqlite3_exec(
          db, sql.c_str(),
          [](void* out, int n, char** values, char**) {
            static_cast<std::vector<std::string>*>(out)->push_back(n && values[0] ? values[0] : "");
            return 0;
          },
          &rows, nullptr);
    }
    sqlite3_close(db);
    if (rc != SQLITE_OK) return {"error " + std::to_string(rc)};
    return rows;
  }

  // The engine's integrity check of one file: "ok" when it is sound.
  static std::string integrity(const std::string& path) {
    std::vector<std::string> rows = rawRows(path, "PRAGMA integrity_check;");
    std::string text;
    for (const auto& row : rows) text += (text.empty() ? "" : "; ") + row;
    return text;
  }

  // Runs `work` on a thread of its own and gives it `ms` milliseconds; a call that hangs
  // cannot be undone in this process, so the program ends at once, naming `what`.
  template <class F>
  static auto withinTime(int ms, const std::string& what, F&& work) -> decltype(work()) {
    auto done = std::async(std::launch::async, std::forward<F>(work));
    if (done.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready) {
      std::fprintf(stderr, "hang: %s did not finish within %d ms\n", what.c_str(), ms);
      std::fflush(stderr);
      std::_Exit(1);
    }
    return done.get();
  }

  // Reads every record of the open catalog into a model and checks that each one is whole
  // (its content is the content of its revision and slot) and that no blob row is left
  // without its record; problems are added to *problems.
  vdrel::CatalogModel readModel(KESTRIN::Vendrithane::Node& node, const std::string& name,
                                std::vector<std::string>* problems) {
    using namespace KESTRIN::Vendrithane;
    vdrel::CatalogModel model;
    std::vector<std::string> ids = rawRows(mainFile(name), "SELECT vd_id FROM vd_assets;");
    for (const auto& text : ids) {
      if (text.compare(0, 5, "error") == 0) {
        problems->push_back("reading ids: " + text);
        return model;
      }
      int id = std::stoi(text), rev = -1, slot = -1;
      try {
        Asset a = node.assetLoad(id);
        std::string wrong = vdrel::readContent(a, &rev, &slot);
        if (!wrong.empty()) problems->push_back("record " + text + ": " + wrong);
      } catch (Status s) {
        problems->push_back("record " + text + ": load status " + std::to_string(s));
      }
      model.records[id] = {rev, slot};
    }
    std::vector<std::string> owners =
        rawRows(blobFile(name), "SELECT DISTINCT vd_aid FROM vd_blobs;");
    for (const auto& owner : owners) {
      if (owner.compare(0, 5, "error") == 0 || !model.records.count(std::stoi(owner)))
        problems->push_back("blob row of " + owner + " without its record");
    }
    String last;
    node.scalarLoad(String(vdrel::kLastTag), last);
    model.last.assign(last.buffer(), last.length());
    return model;
  }

  vdtest::ScratchDir scratch_{"vdrel-"};
  std::string prefix_, dir_;
};

#endif  // VENDRITHANE_TESTS_RELIABILITY_RELIABILITYFIXTURE_H
