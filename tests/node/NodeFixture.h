// Shared set-up of the catalog tests: a private object-name prefix, a scratch directory
// with a temporary directory inside it, raw engine connections through the catalog VFS,
// and the stock sqlite3 shell run on copies of catalog files with the engine's header.
#ifndef VENDRITHANE_TESTS_NODEFIXTURE_H
#define VENDRITHANE_TESTS_NODEFIXTURE_H

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "helpers/PeerProcess.h"
#include "helpers/ScratchDir.h"
#include "node/CatalogVfs.h"
#include "node/NodeAccess.h"
#include "vendrithane/Node.h"

class NodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = vdtest::useTestPrefix();
    dir_ = scratch_.path();
    ASSERT_FALSE(dir_.empty());
    temp_ = dir_ + "tmp/";
    ASSERT_EQ(mkdir(temp_.c_str(), 0700), 0);
  }
  void TearDown() override {
    vdtest::removeTestObjects(prefix_);
    EXPECT_EQ(scratch_.remove(), std::error_code()) << dir_;
  }

  // A new catalog `name` in the scratch directory; returns its node (closed).
  KESTRIN::Vendrithane::Node created(const std::string& name) {
    KESTRIN::Vendrithane::Node node(name.c_str(), dir_.c_str());
    EXPECT_EQ(node.create(), 0);
    return node;
  }

  static std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  static bool present(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }

  // Runs `sql` on a connection of its own through the catalog VFS; the first column of the
  // rows, one per line, or "error N".
  static std::string raw(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE,
                             KESTRIN::Vendrithane::node::catalogVfsName());
    std::string out;
    if (rc == SQLITE_OK) {
      rc = sqlite3_exec(
          db, sql.c_str(),
          [](void* text, int n, char** values, char**) {
            *static_cast<std::string*>(text) += std::string(n && values[0] ? values[0] : "") + "\n";
            return 0;
          },
          &out, nullptr);
    }
    sqlite3_close(db);
    return rc == SQLITE_OK ? out : "error " + std::to_string(rc);
  }

  // The stock shell's output for `sql` on a copy of `path` whose header is the engine's.
  std::string shell(const std::string& path, const std::string& sql) {
    std::string copy = dir_ + "shell-copy.db", script = dir_ + "shell.sql";
    std::string bytes = readFile(path);
    if (bytes.size() < 16) return "<short file>";
    bytes.replace(0, 16, std::string("SQLite format 3\0", 16));
    writeFile(copy, bytes);
    writeFile(script, sql);
    std::string cmd = "sqlite3 -batch '" + copy + "' < '" + script + "' 2>&1";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
      pclose(p);
    }
    unlink(copy.c_str());
    return out;
  }

  vdtest::ScratchDir scratch_{"vdnode-"};
  std::string prefix_, dir_, temp_;
};

// Node tests that run several threads: labelled "threads", so that they run under
// ThreadSanitizer too.
class NodeThreads : public NodeTest {};

#endif  // VENDRITHANE_TESTS_NODEFIXTURE_H
