// The workload of the fault sweep and its check. The workload makes a catalog, declares an
// own-table type, stores records with catalog blobs in the shared table and in the own table,
// updates one, promotes an element, removes one, commits one transaction and rolls another
// back, stores once more and closes. It keeps a ledger of what each step reported; the check
// reopens the catalog without faults and compares it with the ledger: every step that
// reported success is there in full, every one that reported failure is absent in full.
//
// Runs in a forked child; every finding is a "fail ..." line on the channel.
#ifndef VENDRITHANE_TESTS_RELIABILITY_FAULTWORKLOAD_H
#define VENDRITHANE_TESTS_RELIABILITY_FAULTWORKLOAD_H

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "node/ConnectionPool.h"
#include "node/NodeAccess.h"
#include "node/NodeImpl.h"
#include "node/Statement.h"
#include "reliability/FaultRun.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Node.h"

namespace vdfault {

namespace vd = KESTRIN::Vendrithane;

// One record of the workload and what the catalog must hold of it.
struct Record {
  std::string type;      // asset type
  bool inCollection;     // shared table (else the type's own table)
  std::string title;     // the "title" element as committed
  std::string blobTag;   // its catalog blob element, "" when none
  std::string bytes;     // the blob's bytes as committed
  int id = -1;           // its id once a store committed
  bool present = false;  // committed and not removed
};

class Workload {
 public:
  Workload(const std::string& dir, Channel& channel) : dir_(dir), channel_(channel) {
    records_.reserve(8);
  }

  // The workload; reports "step NAME STATUS" for every step and pauses at "held" after the
  // first failing step that leaves no transaction open, so that another process can show
  // that the catalog is not held.
  void run() {
    vd::Node node("cat", dir_.c_str());
    created_ = step("create", node.create(),
                    {vd::StatusSchemaFailed, vd::StatusNotOpen, vd::StatusNoVersion});
    if (!created_) return;
    // The format check counts a main file that it cannot open as damaged (25).
    opened_ =
        step("open", node.open(),
             {vd::StatusNotCatalog, vd::StatusNotOpen, vd::StatusCorrupt, vd::StatusNoVersion});
    if (!opened_) return;
    node_ = &node;
    {
      Record* a1 = add("clip", true, "one", "pic", pattern('a', 5000));
      Record* a2 = add("clip", true, "two", "pic", pattern('b', 700));
      Record* p1 = add("photo", false, "p1", "raw", pattern('p', 9000));
      Record* a3 = add("clip", true, "three", "pic", pattern('c', 300));
      Record* a4 = add("clip", true, "four", "pic", pattern('d', 2000));
      Record* a5 = add("clip", true, "five", "", "");

      declared_ = step("declare", node.assetDeclare("photo", false), kTxn);
      topLevel();
      vd::Asset h1 = make(*a1), h2 = make(*a2), h3 = make(*a3), h4 = make(*a4);
      store("store-a1", h1, *a1);
      store("store-a2", h2, *a2);
      std::unique_ptr<vd::Asset> hp;
      if (declared_) {
        hp = std::make_unique<vd::Asset>(make(*p1));
        store("store-p1", *hp, *p1);
      }
      if (a1->present) {
        h1.element("title") = "one-b";
        h1.element("pic") = blob(pattern('A', 6000));
        if (step("update-a1", caught([&] { return h1.update(); }), kUpdate)) {
          a1->title = "one-b";
          a1->bytes = pattern('A', 6000);
        }
        topLevel();
      }
      {
        vd::Asset any = node.asset("clip", true);
        indexed_ = step("index", any.element("title").index(2), {vd::StatusIndexFailed, 54, 55});
        topLevel();
      }
      if (a2->present) {
        if (step("remove-a2", h2.remove(), {vd::StatusRemoveFailed, 54, 55})) {
          a2->present = false;
          if (h2.id() != -1) channel_.fail("a removed record keeps its id");
        } else if (h2.id() != a2->id) {
          channel_.fail("a record whose removal failed lost its id");
        }
        topLevel();
      }
      committedTransaction(h3, *a3, hp.get(), *p1);
      rolledBackTransaction(h4, *a4, h1, *a1, h3, *a3);
      vd::Asset h5 = make(*a5);
      store("store-a5", h5, *a5);
    }
    step("close", node.close(), {});
    node_ = nullptr;
  }

  // Reopens the catalog (the switch is off) and compares it with the ledger.
  void check() {
    vd::Node node("cat", dir_.c_str());
    if (!created_) {
      if (node.exists() != -1 || present(dir_ + "cat.vm"))
        channel_.fail("a failed create left catalog files behind");
      return;
    }
    int opened = node.open();
    if (opened != 0) {
      channel_.fail("reopen gives " + std::to_string(opened));
      return;
    }
    vd::NodeImpl* impl = vd::NodeAccess::impl(node);
    {
      vd::node::ConnectionLease lease(impl->pool());
      vd::node::NodeConnection& c = *lease;
      expectRows(c, "PRAGMA main.integrity_check;", {"ok"}, "integrity of the main file");
      expectRows(c, "PRAGMA blobs.integrity_check;", {"ok"}, "integrity of the blob file");
      std::vector<std::string> shared, own, blobs;
      int maxId = 0;
      for (const Record& r : records_) {
        if (!r.present) continue;
        maxId = std::max(maxId, r.id);
        (r.inCollection ? shared : own).push_back(std::to_string(r.id));
        if (!r.blobTag.empty()) blobs.push_back(std::to_string(r.id) + ":" + r.blobTag);
      }
      expectRows(c, "SELECT vd_id FROM vd_assets ORDER BY vd_id;", shared, "shared-table ids");
      bool table = vd::node::tableExists(c, "photo");
      if (table != declared_) channel_.fail(std::string("own table present: ") + yesNo(table));
      if (table) expectRows(c, "SELECT vd_id FROM photo ORDER BY vd_id;", own, "own-table ids");
      std::sort(blobs.begin(), blobs.end());
      expectRows(c, "SELECT vd_aid||':'||vd_tag FROM blobs.vd_blobs ORDER BY 1;", blobs,
                 "blob rows");
      const std::string promoted = indexed_ ? "1" : "0";
      expectRows(c, "SELECT count() FROM vd_idx;", {promoted}, "index declarations");
      expectRows(c, "SELECT count() FROM pragma_table_info('vd_assets') WHERE name='title';",
                 {promoted}, "promoted column");
      if (indexed_) {
        expectRows(c,
                   "SELECT count() FROM vd_assets WHERE title IS NOT "
                   "element_extract('title', vd_xml);",
                   {"0"}, "promoted values in step with the records");
      }
      std::vector<vd::String> counter = vd::node::queryColumn(c, "SELECT vd_id FROM vd_id;");
      if (counter.size() != 1 || std::stoi(counter[0].buffer()) <= maxId)
        channel_.fail("the id counter is behind the stored ids");
    }
    for (const Record& r : records_) {
      if (r.present) checkRecord(node, r);
    }
    // The catalog goes on working: a new record gets an id nobody has.
    vd::Asset fresh = node.asset("clip", true);
    fresh.element("title") = "after";
    int stored = fresh.store();
    if (stored != 0) channel_.fail("a store after reopening gives " + std::to_string(stored));
    for (const Record& r : records_) {
      if (r.present && r.id == fresh.id()) channel_.fail("an id was handed out twice");
    }
    int closed = node.close();
    if (closed != 0) channel_.fail("close after the check gives " + std::to_string(closed));
  }

 private:
  // Failures that any step may report for an injected engine result: the mapped statuses of
  // an I/O error, a full disk and a read-only file, and "other engine failure".
  using Allowed = std::vector<int>;
  const Allowed kMapped{13, 31, 32, 81};
  const Allowed kTxn{54, 55};
  const Allowed kStore{61, 33, 80, 54, 55};
  const Allowed kUpdate{61, 33, 54, 55};

  static const char* yesNo(bool b) { return b ? "yes" : "no"; }
  static bool present(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
  static std::string pattern(char seed, size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(seed + i * 7 % 251);
    return bytes;
  }
  static vd::Blob blob(const std::string& bytes) {
    vd::Blob b;
    b.set(reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())), bytes.size(),
          vd::Blob::LocationCatalog);
    return b;
  }
  // The status of `f`: what it returns, or the Status it throws.
  template <class F>
  static int caught(F&& f) {
    try {
      return f();
    } catch (vd::Status s) {
      return s;
    }
  }

  Record* add(const char* type, bool inCollection, const char* title, const char* tag,
              const std::string& bytes) {
    records_.push_back(Record{type, inCollection, title, tag, bytes});
    return &records_.back();
  }

  vd::Asset make(const Record& r) {
    vd::Asset a = node_->asset(r.type.c_str(), r.inCollection);
    a.element("title") = r.title.c_str();
    if (!r.blobTag.empty()) a.element(r.blobTag.c_str()) = blob(r.bytes);
    return a;
  }

  // Reports a step; true on success. A failure must be one of `allowed` or kMapped.
  bool step(const char* name, int status, const Allowed& allowed) {
    channel_.line(std::string("step ") + name + " " + std::to_string(status));
    if (status == 0) return true;
    bool known = std::find(allowed.begin(), allowed.end(), status) != allowed.end() ||
                 std::find(kMapped.begin(), kMapped.end(), status) != kMapped.end();
    if (!known)
      channel_.fail(std::string(name) + " reports an unexpected " + std::to_string(status));
    failedStep_ = true;
    return false;
  }

  // After a step outside any transaction: none is open, and after the first failure another
  // process gets its turn to show that nothing is held.
  void topLevel() {
    int state = node_->transactionState();
    if (state != vd::StatusNoTransaction)
      channel_.fail("a transaction is left open (state " + std::to_string(state) + ")");
    if (failedStep_ && !heldDone_) {
      heldDone_ = true;
      channel_.held();
    }
  }

  // A store: on success the record has its id, on failure it is unsaved.
  bool store(const char* name, vd::Asset& a, Record& r, bool top = true) {
    bool ok = step(name, caught([&] { return a.store(); }), kStore);
    if (ok) {
      if (a.id() < 2) channel_.fail(std::string(name) + " gives no id");
      r.id = a.id();
      r.present = true;
    } else if (a.id() != -1) {
      channel_.fail(std::string(name) + " failed but the asset keeps id " + std::to_string(a.id()));
    }
    if (top) topLevel();
    return ok;
  }

  // Stores a3 and updates p1 in one transaction: both or neither.
  void committedTransaction(vd::Asset& h3, Record& a3, vd::Asset* hp, Record& p1) {
    if (!step("t1-begin", node_->transactionBegin(), {54})) return topLevel();
    Record staged3 = a3;
    bool ok = store("t1-store-a3", h3, staged3, false);
    bool updated = false;
    if (ok && hp && p1.present) {
      hp->element("title") = "p1-b";
      ok = updated = step("t1-update-p1", caught([&] { return hp->update(); }), kUpdate);
    }
    if (ok && step("t1-commit", node_->transactionCommit(), {55})) {
      a3 = staged3;
      if (updated) p1.title = "p1-b";
    } else {
      // A failed commit took the transaction with it; a failed step leaves it to the host.
      if (!ok) step("t1-rollback", node_->transactionRollback(), {56});
      if (h3.id() != -1) channel_.fail("a store of a failed transaction keeps its id");
    }
    topLevel();
  }

  // Stores a4, updates a1 and removes a3 in one transaction, then rolls it back.
  void rolledBackTransaction(vd::Asset& h4, Record& a4, vd::Asset& h1, Record& a1, vd::Asset& h3,
                             Record& a3) {
    if (!step("t2-begin", node_->transactionBegin(), {54})) return topLevel();
    Record staged4 = a4;
    store("t2-store-a4", h4, staged4, false);
    if (a1.present) {
      h1.element("title") = "rolled";
      step("t2-update-a1", caught([&] { return h1.update(); }), kUpdate);
    }
    if (a3.present) step("t2-remove-a3", h3.remove(), {vd::StatusRemoveFailed});
    step("t2-rollback", node_->transactionRollback(), {56});
    if (h4.id() != -1) channel_.fail("a store of a rolled-back transaction keeps its id");
    topLevel();
  }

  void expectRows(vd::node::NodeConnection& c, const std::string& sql,
                  const std::vector<std::string>& expected, const char* what) {
    std::vector<std::string> got;
    try {
      for (const vd::String& s : vd::node::queryColumn(c, sql)) got.push_back(s.buffer());
    } catch (vd::Status s) {
      channel_.fail(std::string(what) + ": query fails with " + std::to_string(s));
      return;
    }
    if (got == expected) return;
    auto join = [](const std::vector<std::string>& v) {
      std::string text;
      for (const auto& s : v) text += (text.empty() ? "" : ",") + s;
      return "[" + text + "]";
    };
    channel_.fail(std::string(what) + ": " + join(got) + " instead of " + join(expected));
  }

  void checkRecord(vd::Node& node, const Record& r) {
    const std::string name = r.type + " " + std::to_string(r.id);
    try {
      vd::Asset a = r.inCollection ? node.assetLoad(r.id) : node.assetLoad(r.id, r.type.c_str());
      vd::String title = a.element("title");
      if (std::string(title.buffer(), title.length()) != r.title)
        channel_.fail(name + " has title " + title.buffer() + " instead of " + r.title);
      if (r.blobTag.empty()) return;
      vd::Blob b(a.element(r.blobTag.c_str()));
      unsigned char* bytes = b.buffer(0);
      std::string got = bytes ? std::string(reinterpret_cast<char*>(bytes), b.length()) : "";
      if (got != r.bytes) channel_.fail(name + " has other blob bytes");
    } catch (vd::Status s) {
      channel_.fail(name + " cannot be loaded: " + std::to_string(s));
    }
  }

  std::string dir_;              // the catalog's directory
  Channel& channel_;             // where findings go
  vd::Node* node_ = nullptr;     // the open catalog while run() works on it
  std::vector<Record> records_;  // the workload's records (reserved: pointers stay valid)
  bool created_ = false;         // create reported success
  bool opened_ = false;          // open reported success
  bool declared_ = false;        // the own-table type was declared
  bool indexed_ = false;         // "title" was promoted
  bool failedStep_ = false;      // some step reported a failure
  bool heldDone_ = false;        // the other process has had its turn
};

}  // namespace vdfault

#endif  // VENDRITHANE_TESTS_RELIABILITY_FAULTWORKLOAD_H
