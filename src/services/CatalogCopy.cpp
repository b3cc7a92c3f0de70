// The catalog copy (Node::copy). In order: the copy state with the two SQL functions it
// answers (vd_idmap, vd_catcopy) and the offers to the handler; the steps before the
// transaction (checks, the destination's files, identities, record table, ATTACH); the
// transaction itself; the clean-up that every way out runs.
#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "asset/AssetLayer.h"
#include "asset/AssetStatements.h"
#include "asset/CatalogAssets.h"
#include "asset/ElementIndex.h"
#include "category/CategoryCache.h"
#include "category/CategoryImpl.h"
#include "handler/HandlerImpl.h"
#include "monitor/EventKinds.h"
#include "node/CatalogId.h"
#include "node/ConnectionPool.h"
#include "node/CopyCalls.h"
#include "node/IdAllocator.h"
#include "node/NodeAccess.h"
#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "node/StatusOf.h"
#include "node/Transaction.h"
#include "platform/Files.h"
#include "query/FilterImpl.h"
#include "query/Render.h"
#include "services/CopyStatements.h"
#include "vendrithane/Handler.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

using namespace services;

constexpr int kRenumber = 1;  // the copy state's modes
constexpr int kKeep = 2;
constexpr int kNone = -1;
constexpr int kMaxOffers = 1000;  // offers of one namespace or category

// What a copy ends with: a status, or an exception for the caller once all is cleaned up.
struct Outcome {
  int status = StatusOk;
  std::exception_ptr raise;
};

// A namespace or a category node made in the destination, written after the memberships.
struct NewNamespace {
  int id;
  String description;
  int flags;
  String name;
  int type;
  String target;
};
struct NewNode {
  int id;        // in the destination
  int sourceId;  // its source node (its blob rows go with it)
  String label;
  int parent;  // in the destination
  String xml;
};

// A quoted identifier's name.
std::string unquoted(const std::string& quoted) {
  if (quoted.size() < 2 || quoted.front() != '"') return quoted;
  std::string name;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    name += quoted[i];
    if (quoted[i] == '"') ++i;
  }
  return name;
}

// The copy state of one call: the id map, the mode and counter, the category decisions
// and what the copy makes in the destination before it is written. It belongs to the
// thread running the copy (node::CopyScope) and is read by nothing else.
class CopyState final : public node::CopyCalls {
 public:
  CopyState(NodeImpl& source, node::NodeConnection& connection, int mode, long long counter,
            Handler* handler, const std::vector<std::string>& idTables)
      : source_(source),
        c_(connection),
        mode_(mode),
        counter_(counter),
        handler_(handler),
        idTables_(idTables) {}

  bool mapId(long long id, long long* mapped) override {
    *mapped = map(id);
    return true;
  }

  // A failure is kept for the caller of copy (a Status, or what a copy event threw) and
  // thrown on, which fails the statement.
  bool copyCategory(long long id, long long* decision) override {
    try {
      auto answered = answers_.find(id);
      if (answered == answers_.end()) {
        // Members are never filed at a namespace root itself.
        const int category = static_cast<int>(id);
        answered = answers_.emplace(id, isNamespace(category) ? 0 : decideNode(category)).first;
      }
      *decision = answered->second;
      return true;
    } catch (Status s) {
      if (!failed()) failure_ = s;
      throw;
    } catch (...) {
      if (!failed()) raised_ = std::current_exception();
      throw;
    }
  }

  long long map(long long id) {
    auto found = ids_.find(id);
    if (found != ids_.end()) return found->second;
    const long long mapped = mode_ == kKeep ? id : counter_++;
    ids_.emplace(id, mapped);
    return mapped;
  }
  long long counter() const { return counter_; }
  bool failed() const { return failure_ != StatusOk || raised_ != nullptr; }
  Status failure() const { return failure_; }
  std::exception_ptr raised() const { return raised_; }
  const std::vector<NewNamespace>& namespaces() const { return namespaces_; }
  const std::vector<NewNode>& nodes() const { return nodes_; }

 private:
  bool isNamespace(int id) {
    node::Statement s(c_, node::sqlFormat(kSourceNamespace, id));
    const bool row = s.valid() && s.step();
    if (!s.valid() || s.failed()) throw s.error().status();
    return row;
  }

  // The handler's answer to one offer. What it throws is the host's, kept for the caller of
  // copy even when it is a Status. A handler that keeps renaming between names the
  // destination has fails the copy (24) after kMaxOffers offers of one category.
  template <typename Offer>
  bool ask(int offers, Offer offer) {
    if (offers >= kMaxOffers) throw StatusUnsupported;
    try {
      return offer();
    } catch (...) {
      if (!failed()) raised_ = std::current_exception();
      throw;
    }
  }

  // Whether the memberships of category `id` are copied, its parents decided first.
  int decideNode(int id) {
    auto decided = decisions_.find(id);
    if (decided != decisions_.end()) return decided->second;
    if (!deciding_.insert(id).second) return 0;  // a cycle of parents in a damaged file
    String label, xml;
    int parent;
    {
      node::Statement s(c_, node::sqlFormat(kSourceNode, id));
      if (!s.valid() || !s.step()) {
        if (!s.valid() || s.failed()) throw s.error().status();
        return decisions_[id] = 0;  // no such node: nothing to file into
      }
      label = s.columnText(0);
      parent = static_cast<int>(s.columnInt64(1));
      xml = s.columnText(2);
    }
    const int parentCopied = isNamespace(parent) ? decideNamespace(parent) : decideNode(parent);
    if (parentCopied == 0) return decisions_[id] = 0;  // its subtree stays out, unasked
    const int destParent = static_cast<int>(ids_.at(parent));
    bool copy = true;
    if (handler_ != nullptr) {
      category::CategoryCache& cache = category::CategoryCache::of(source_);
      CategoryImpl* impl = cache.acquire(id);
      if (impl == nullptr && cache.loadNode(c_, id) == StatusOk) impl = cache.acquire(id);
      if (impl == nullptr) throw StatusCategoryFailed;
      const Category held = CategoryAccess::adopt(impl);
      bool exists = destChild(destParent, label) != kNone;
      for (int offers = 0;; ++offers) {
        const String offered = label;
        copy = ask(offers, [&] { return handler_->copyCategoryEvent(held, label, exists); });
        exists = destChild(destParent, label) != kNone;
        if (!exists || !copy || label.compareNoCase(offered.buffer()) == 0) break;
      }
    }
    decisions_[id] = copy ? 1 : 0;
    if (!copy) return 0;
    const int existing = destChild(destParent, label);
    if (existing != kNone) {
      if (ids_.count(id) != 0) throw StatusCategoryFailed;  // mapped twice
      ids_.emplace(id, existing);
    } else if (keptAt(id, nullptr)) {
      ids_.emplace(id, id);
    } else {
      nodes_.push_back(NewNode{static_cast<int>(map(id)), id, label, destParent, xml});
    }
    return 1;
  }

  // Whether namespace `id` is copied (merged into one of the destination, or made there).
  int decideNamespace(int id) {
    auto decided = decisions_.find(id);
    if (decided != decisions_.end()) return decided->second;
    NewNamespace ns{};
    {
      node::Statement s(c_, node::sqlFormat(kSourceNamespace, id));
      if (!s.valid() || !s.step()) throw s.valid() ? s.error().status() : StatusCategoryFailed;
      ns.description = s.columnText(0);
      ns.flags = static_cast<int>(s.columnInt64(1));
      ns.name = s.columnText(2);
      ns.type = static_cast<int>(s.columnInt64(3));
      ns.target = s.columnText(4);
    }
    String name = ns.name;
    String target;
    int existing = destNamespace(name, &target);
    bool copy = true;
    if (handler_ != nullptr) {
      for (int offers = 0;; ++offers) {
        const String offered = name;
        copy = ask(offers, [&] { return handler_->copyNamespaceEvent(name, existing != kNone); });
        existing = destNamespace(name, &target);
        if (existing == kNone || !copy || name == offered) break;
      }
    }
    decisions_[id] = copy ? 1 : 0;
    if (!copy) return 0;
    if (existing != kNone) {
      // Never merged into a namespace whose members are of another kind.
      if (target.compareNoCase(ns.target.buffer()) != 0) throw StatusUnsupported;
      if (ids_.count(id) != 0) throw StatusCategoryFailed;  // mapped twice
      ids_.emplace(id, existing);
    } else if (keptAt(id, &ns.target)) {
      ids_.emplace(id, id);
    } else {
      ns.id = static_cast<int>(map(id));
      ns.name = name;
      namespaces_.push_back(ns);
    }
    return 1;
  }

  // Keep mode: whether the destination has a category at source id `id` already (renamed
  // or moved there since an earlier copy), which is then its counterpart: a namespace of
  // `target`, or (target null) a node wherever it sits. Another category row at that id
  // fails the copy with 4; a row of any other table there with 41 (one id never names two
  // objects).
  bool keptAt(int id, const String* target) {
    if (mode_ != kKeep) return false;
    int rows = 0;
    bool same = false;
    for (const char* sql : {kDestNamespaceAt, kDestNodeAt}) {
      node::Statement s(c_, node::sqlFormat(sql, id));
      if (s.valid() && s.step()) {
        ++rows;
        if (sql == kDestNamespaceAt)
          same = target != nullptr && s.columnText(0).compareNoCase(target->buffer()) == 0;
        else
          same = target == nullptr;
      } else if (!s.valid() || s.failed()) {
        throw s.error().status();
      }
    }
    if (rows > 1 || (rows == 1 && !same)) throw StatusCategoryFailed;
    if (rows == 1) return true;
    for (const std::string& table : idTables_) {
      node::Statement s(c_, node::sqlFormat(kIdHeldIn, node::quoteIdentifier(table).c_str(), id));
      if (s.valid() && s.step()) throw StatusConstraint;
      if (!s.valid() || s.failed()) throw s.error().status();
    }
    return false;
  }

  // The destination's namespace of that name (made by this copy, or stored); kNone.
  int destNamespace(const String& name, String* target) {
    for (const NewNamespace& ns : namespaces_) {
      if (ns.name == name) {
        *target = ns.target;
        return ns.id;
      }
    }
    node::Statement s(c_, node::sqlFormat(kDestNamespace, name.buffer()));
    if (s.valid() && s.step()) {
      *target = s.columnText(1);
      return static_cast<int>(s.columnInt64(0));
    }
    if (!s.valid() || s.failed()) throw s.error().status();
    return kNone;
  }

  // The destination's child of `parent` with that label (made by this copy, or stored).
  int destChild(int parent, const String& label) {
    for (const NewNode& n : nodes_)
      if (n.parent == parent && n.label == label) return n.id;
    node::Statement s(c_, node::sqlFormat(kDestChild, parent, label.buffer()));
    if (s.valid() && s.step()) return static_cast<int>(s.columnInt64(0));
    if (!s.valid() || s.failed()) throw s.error().status();
    return kNone;
  }

  NodeImpl& source_;
  node::NodeConnection& c_;  // the source's connection, the destination attached
  const int mode_;           // kRenumber or kKeep
  long long counter_;        // the next new destination id (kRenumber)
  Handler* handler_;         // asked about each namespace and category; may be null
  const std::vector<std::string>& idTables_;  // the destination's tables of counter ids
  std::map<long long, long long> ids_;        // source id -> destination id
  std::map<int, int> decisions_;              // category or namespace id -> 1 copy, 0 skip
  std::map<long long, int> answers_;          // what vd_catcopy answered for a category id
  std::set<int> deciding_;                    // nodes whose decision is under way
  std::vector<NewNamespace> namespaces_;
  std::vector<NewNode> nodes_;
  Status failure_ = StatusOk;  // a Status vd_catcopy failed with
  std::exception_ptr raised_;  // what a copy event threw
};

// One call of Node::copy.
class CatalogCopy {
 public:
  CatalogCopy(NodeImpl& source, NodeImpl& dest, Filter& filter, bool withCategories,
              Handler* handler, int mapping)
      : source_(source),
        dest_(dest),
        filter_(filter),
        withCategories_(withCategories),
        handler_(handler),
        mapping_(mapping) {}

  Outcome run() {
    Outcome out;
    out.status = node::statusOf([&] { return checks(); });
    if (out.status != StatusOk) return out;
    out.status = node::statusOf([&] { return prepareDestination(); });
    if (out.status == StatusOk) out = underBothLocks();
    finish(out.status != StatusOk || out.raise != nullptr);
    return out;
  }

  // The identities, the record table, ATTACH and the transaction, with the handler's
  // delivery lock and then both per-catalog mutexes held: nobody draws an id in the
  // destination between the decision to keep ids and the commit.
  Outcome underBothLocks() {
    std::optional<handler::Operation> asking;
    if (handler_ != nullptr) asking.emplace(*handler_);
    std::optional<CatalogPairHold> both;
    Outcome out;
    out.status = node::statusOf([&] {
      both.emplace(source_, dest_);
      return identity();
    });
    if (out.status == StatusOk) {
      // A Status thrown before the transaction (the record table's declaration, a lease)
      // fails the copy like any other, clean-up included.
      Outcome attached;
      out.status = node::statusOf([&] {
        attached = copyAttached();
        return attached.status;
      });
      out.raise = attached.raise;
    }
    return out;
  }

  // The checks that need no destination.
  int checks() {
    if (!source_.isOpen()) return StatusNotOpen;
    if (mapping_ < IdMappingAutomatic || mapping_ > IdMappingKeepIds) return StatusUnsupported;
    if (&source_ == &dest_ ||
        platform::fullPath(source_.mainFile()) == platform::fullPath(dest_.mainFile()) ||
        platform::fullPath(source_.blobFile()) == platform::fullPath(dest_.blobFile()))
      return StatusWrongCatalog;
    if (inTransaction(source_) || (dest_.isOpen() && inTransaction(dest_))) return StatusBusy;
    query::FilterState state = FilterAccess::snapshot(filter_);
    if (!state.terms.empty()) return StatusBadFilter;
    // The rows of one table are distinct by their ids already: no DISTINCT, which would
    // sort every copied row's text.
    state.allowDuplicates = true;
    query::BuildFlags flags;
    flags.idsOnly = true;
    built_ = query::buildStatement(state, flags, std::string(), &source_);
    if (built_.tables > 1) return StatusUnsupported;
    selectedIds_ = built_.text;
    if (!selectedIds_.empty() && selectedIds_.back() == ';') selectedIds_.pop_back();
    return StatusOk;
  }

  static bool inTransaction(NodeImpl& node) {
    const Status state = node.transactionState();
    return state == StatusInTransaction || state == StatusMarkedForRollback;
  }

  // Creates and opens the destination as needed.
  int prepareDestination() {
    if (dest_.isOpen()) return StatusOk;
    if (dest_.exists() != 0) {
      if (dest_.create(false) != StatusOk) return StatusSchemaFailed;
      created_ = true;
    }
    if (dest_.open(false, false, nullptr) != StatusOk) return StatusNotOpen;
    opened_ = true;
    return StatusOk;
  }

  // A catalog's registry value of `tag`, read from its file ("" when absent): another
  // process may have changed it since this one read it.
  static String registryValue(NodeImpl& node, const char* tag) {
    node::ConnectionLease lease(node.pool());
    if (!lease) throw StatusNotOpen;
    String value;
    const Status s = node::queryValue(*lease, node::sqlFormat(node::kRegistryLoad, tag), &value);
    if (s != StatusOk && s != StatusNotFound) throw s;
    return value;
  }

  // The destination's copy marker as a number; -1 when absent or not one.
  long long destMarker() {
    const String text = registryValue(dest_, kCopyMarkerTag);
    char* end = nullptr;
    const long long value = std::strtoll(text.buffer(), &end, 10);
    return end == text.buffer() || *end != '\0' ? -1 : value;
  }

  // A counter that could not be read or drawn: the status of the failing statement that
  // the connection recorded after `since` statements, else 31.
  [[noreturn]] static void counterFailed(node::NodeConnection& c, int since) {
    const node::ErrorRecord failure = c.lastError();
    if (failure.execOrdinal > since && failure.status != StatusOk &&
        failure.status != StatusIdCounterFailed)
      throw static_cast<Status>(failure.status);
    throw StatusEngineFailure;
  }

  // A catalog's next id, under its per-catalog mutex.
  static int nextIdOf(NodeImpl& node) {
    node::ConnectionLease lease(node.pool());
    if (!lease) throw StatusNotOpen;
    CatalogLockHold hold(node);
    const int since = lease->execCount();
    const int next = node::catalogNextId(*lease);
    if (next < 0) counterFailed(*lease, since);
    return next;
  }

  // A registry row of the destination, written (or removed) in the copy's transaction.
  void store(const char* tag, const String& value) { registry_.push_back({tag, value, false}); }
  void drop(const char* tag) { registry_.push_back({tag, String(), true}); }

  // Decides the mode from the identities as the files hold them; the rows that mark a
  // destination made here as a copy, or give it an identity of its own, are written later.
  int identity() {
    const String sourceId = registryValue(source_, node::kCatalogIdTag);
    const String destId = registryValue(dest_, node::kCatalogIdTag);
    source_.catalogId(sourceId);
    dest_.catalogId(destId);
    const bool sameId = destId == sourceId;
    if (mapping_ == IdMappingNewIds) {
      if (sameId) return StatusWrongCatalog;
      mode_ = kRenumber;
    } else if (mapping_ == IdMappingKeepIds) {
      if (!created_ && !sameId) return StatusWrongCatalog;
      if (created_) {
        store(node::kCatalogIdTag, sourceId);
        destId_ = sourceId;
        store(kCopyMarkerTag, String("1"));
      } else {
        markFollows_ = destMarker() == nextIdOf(dest_);
      }
      mode_ = kKeep;
    } else if (created_) {
      store(node::kCatalogIdTag, sourceId);  // in place of the one it was created with
      destId_ = sourceId;
      store(kCopyMarkerTag, String(std::to_string(nextIdOf(source_)).c_str()));
      markFollows_ = true;
      mode_ = kKeep;
    } else {
      const long long marker = destMarker();
      if (marker == -1 && sameId) return StatusUnsupported;
      if (sameId && marker == nextIdOf(dest_)) {
        markFollows_ = true;
        mode_ = kKeep;
      } else {
        mode_ = kRenumber;
        if (marker != -1) {  // a copy no longer: an identity of its own
          drop(kCopyMarkerTag);
          destId_ = String(node::generateCatalogId(dest_.mainFile()).c_str());
          store(node::kCatalogIdTag, destId_);
        }
      }
    }
    return StatusOk;
  }

  // The steps from the record table to DETACH.
  Outcome copyAttached() {
    Outcome out;
    table_ = unquoted(built_.mainTable);
    if (table_ != node::kAssetsTable) {
      const Status declared = assets::declareType(dest_, table_.c_str(), false);
      if (declared != StatusOk && declared != StatusExists) {
        out.status = declared;
        return out;
      }
    }
    node::ConnectionLease lease(source_.pool());
    if (!lease) {
      out.status = StatusNotOpen;
      return out;
    }
    node::NodeConnection& c = *lease;
    out.status = node::execute(c, node::sqlFormat(kAttach, dest_.mainFile().c_str(), kDestMain));
    if (out.status != StatusOk) return out;
    out.status = node::execute(c, node::sqlFormat(kAttach, dest_.blobFile().c_str(), kDestBlobs));
    if (out.status != StatusOk) {
      node::execute(c, node::sqlFormat(kDetach, kDestMain));
      return out;
    }
    try {
      out.status = transaction(c);
    } catch (Status failed) {
      out.status = failed;
    } catch (...) {
      out.raise = std::current_exception();
    }
    if (raise_ != nullptr) out.raise = raise_;
    // Both files go on every way out, or a later copy could not attach them again.
    const Status blobs = node::execute(c, node::sqlFormat(kDetach, kDestBlobs));
    const Status main = node::execute(c, node::sqlFormat(kDetach, kDestMain));
    if (out.status == StatusOk && out.raise == nullptr)
      out.status = main != StatusOk ? main : blobs;
    return out;
  }

  // Runs `sql`; throws its status when it fails.
  static void run(node::NodeConnection& c, const std::string& sql) {
    const Status s = node::execute(c, sql);
    if (s != StatusOk) throw s;
  }

  // Whether query `sql` has a row; throws its status when it fails.
  static bool hasRow(node::NodeConnection& c, const std::string& sql) {
    node::Statement s(c, sql);
    if (s.valid() && s.step()) return true;
    if (!s.valid() || s.failed()) throw s.error().status();
    return false;
  }

  // Keep mode: whether a destination table other than `except` holds one of the ids that
  // query `ids` gives.
  bool idsHeld(node::NodeConnection& c, const char* ids, const std::string& except) {
    for (const std::string& table : idTables_) {
      if (strcasecmp(table.c_str(), except.c_str()) != 0 &&
          hasRow(c, node::sqlFormat(kIdsHeldIn, ids, node::quoteIdentifier(table).c_str())))
        return true;
    }
    return false;
  }

  // The destination's tables whose rows take their ids from its counter: its record tables
  // and the library's own.
  static std::vector<std::string> idTables(node::NodeConnection& d) {
    std::vector<std::string> tables = assets::recordTables(d);
    tables.insert(tables.end(), std::begin(assets::kCounterTables),
                  std::end(assets::kCounterTables));
    return tables;
  }

  // Renumber mode: the lowest id from `first` on that the destination holds, in any table
  // of counter ids or as a blob's owner; LLONG_MAX when none.
  long long lowestHeldFrom(node::NodeConnection& c, long long first) {
    long long lowest = LLONG_MAX;
    auto take = [&](const std::string& sql) {
      node::Statement s(c, sql);
      if (!s.valid() || !s.step()) throw s.error().status();
      if (!s.columnIsNull(0)) lowest = std::min(lowest, s.columnInt64(0));
    };
    const int from = static_cast<int>(first);
    for (const std::string& table : idTables_)
      take(node::sqlFormat(kLowestIdFrom, node::quoteIdentifier(table).c_str(), from));
    take(node::sqlFormat(kLowestBlobIdFrom, from));
    return lowest;
  }

  // Runs a statement that calls vd_catcopy: a failure there fails the copy with what the
  // copy state kept (a Status, or what a copy event threw, for the caller).
  void runDeciding(node::NodeConnection& c, const std::string& sql, const CopyState& state) {
    const Status s = node::execute(c, sql);
    if (s == StatusOk) return;
    raise_ = state.raised();
    throw state.failure() != StatusOk ? state.failure() : s;
  }

  // A category row that cannot be written fails the copy with Status 4 thrown to its caller.
  [[noreturn]] void categoryWriteFailed() {
    raise_ = std::make_exception_ptr(StatusCategoryFailed);
    throw StatusCategoryFailed;
  }

  // One transaction on the source's connection, both catalogs held.
  int transaction(node::NodeConnection& c) {
    node::ConnectionLease destLease(dest_.pool());
    if (!destLease) throw StatusNotOpen;
    node::NodeConnection& d = *destLease;

    // The counter: a renumbering copy draws one destination id and starts there.
    long long counter;
    const int sinceC = c.execCount(), sinceD = d.execCount();
    if (mode_ == kRenumber) {
      const int first = node::nextId(d);
      if (first < 0) counterFailed(d, sinceD);
      counter = first;
    } else {
      counter = node::catalogNextId(c);
      if (counter < 0) counterFailed(c, sinceC);
    }
    const int destNext = node::catalogNextId(d);
    if (destNext < 0) counterFailed(d, sinceD);

    // The destination's promoted columns of the table, filled for the copied rows as at
    // promotion. Read before the transaction writes: from then on the destination's own
    // connections may find its file locked by this one until the commit.
    const Status viewed = dest_.refreshSchemaView(d);
    if (viewed != StatusOk) throw viewed;
    const std::vector<std::string> promoted = assets::elementIndexes(dest_).columns(table_);
    idTables_ = idTables(d);

    Status begun = node::beginTransaction(c, false);
    if (begun != StatusOk) throw begun;
    struct Level {
      node::NodeConnection& c;
      bool open = true;
      ~Level() {
        if (open) node::rollbackTransaction(c);
      }
    } level{c};
    // Renumbering: every id from the first drawn one to the final counter goes to a row of
    // this copy, so none of them may be held in the destination before it writes.
    const long long held = mode_ == kRenumber ? lowestHeldFrom(c, counter) : LLONG_MAX;

    CopyState state(source_, c, mode_, counter, handler_, idTables_);
    node::CopyScope scope(&source_, &state);
    const char* conflicts = mode_ == kKeep ? kKeepConflicts : "";
    // The identity first: rolled back with everything else when the copy fails.
    for (const RegistryRow& row : registry_)
      run(c, row.remove ? node::sqlFormat(kRemoveDestRegistry, row.tag)
                        : node::sqlFormat(kWriteDestRegistry, row.tag, row.value.buffer()));
    run(c, node::sqlFormat(kTakeSelected, selectedIds_.c_str()));
    const std::string quotedTable = node::quoteIdentifier(table_);
    if (mode_ == kKeep) {
      // Records the destination holds at their ids as other records stay out whole, before
      // the categories they are filed in are decided; a kept id that another table holds
      // fails the copy.
      run(c, node::sqlFormat(kDropPresent, quotedTable.c_str(), quotedTable.c_str(),
                             table_ == node::kAssetsTable ? kTagDiffers : ""));
      if (idsHeld(c, kSelectedIds, table_)) throw StatusConstraint;
    }

    // The categories are decided (and offered to the handler) before anything is written
    // into the destination: a handler may read the destination through its own node,
    // whose connections would wait for this transaction's lock on the file without end.
    if (withCategories_) runDeciding(c, kDecideCategories, state);

    const char* columns = built_.recordRows ? "vd_xml,vd_tag" : "vd_xml";
    run(c, node::sqlFormat(kInsertRecords, conflicts, quotedTable.c_str(), columns, columns,
                           quotedTable.c_str()));
    for (const std::string& column : promoted)
      run(c, node::sqlFormat(kFillCopiedColumn, quotedTable.c_str(),
                             node::quoteIdentifier(column).c_str(), column.c_str()));
    run(c, node::sqlFormat(kInsertBlobs, conflicts));
    if (withCategories_) {
      run(c, kTakeMemberships);
      if (mode_ == kKeep &&
          (idsHeld(c, kCopiedMembershipIds, "vd_cat_xref") || hasRow(c, kMembershipKeyTaken)))
        throw StatusConstraint;
      runDeciding(
          c, node::sqlFormat(kInsertMemberships, conflicts, mode_ == kKeep ? "" : kFirstPairOnly),
          state);
      run(c, kDropMemberships);
      for (const NewNamespace& ns : state.namespaces()) {
        if (node::execute(
                c, node::sqlFormat(kInsertNamespace, ns.id, ns.description.buffer(), ns.flags,
                                   ns.name.buffer(), ns.type, ns.target.buffer())) != StatusOk) {
          categoryWriteFailed();
        }
      }
      for (const NewNode& n : state.nodes()) {
        if (node::execute(c, node::sqlFormat(kInsertNode, n.id, n.label.buffer(), n.parent,
                                             n.xml.buffer())) != StatusOk ||
            node::execute(c, node::sqlFormat(kInsertNodeBlobs, conflicts, n.id, n.sourceId)) !=
                StatusOk) {
          categoryWriteFailed();
        }
      }
    }
    run(c, kDropSelected);
    if (held < state.counter()) throw StatusConstraint;
    // The counter, never below the destination's next id; a fresh copy's marker follows it.
    const long long written = std::max<long long>(state.counter(), destNext);
    if (written > INT_MAX) throw StatusEngineFailure;  // the counter is exhausted
    run(c, node::sqlFormat(kWriteDestCounter, static_cast<int>(written)));
    if (mode_ == kKeep && markFollows_)
      run(c, node::sqlFormat(kWriteDestRegistry, kCopyMarkerTag, std::to_string(written).c_str()));

    level.open = false;
    const Status committed = node::commitTransaction(c);
    if (committed != StatusOk) throw committed;
    if (destId_.length() != 0) dest_.catalogId(destId_);
    // The next id comes from a new block, read from the counter just written.
    node::forgetIdBlock(d);
    if (withCategories_) {
      // Other nodes of the destination rebuild; an open one here reloads its tree in place.
      // The copy is committed: a failure of either cannot undo it, nor may it be reported
      // as the copy's (a destination created here would be removed), so it is ignored.
      try {
        node::queueEvent(d, monitor::kEventCatalogChanged, -1);
      } catch (...) {
      }
      try {
        category::CategoryCache::of(dest_).loadTree(d);
      } catch (...) {
      }
    }
    return StatusOk;
  }

  // Closes a destination opened here; removes one created here when the copy failed.
  void finish(bool failed) {
    if (opened_) dest_.close();
    if (created_ && failed) dest_.remove();
  }

  NodeImpl& source_;
  NodeImpl& dest_;
  Filter& filter_;
  const bool withCategories_;
  Handler* handler_;
  const int mapping_;
  query::Built built_;        // the filter's ids-only statement
  std::string selectedIds_;   // its ids-only SELECT, without the ";"
  std::string table_;         // the table it reads, unquoted
  bool created_ = false;      // the destination was created by this copy
  bool opened_ = false;       // and opened by it
  bool markFollows_ = false;  // keep ids and the destination is (or was) a fresh copy
  int mode_ = kRenumber;      // kRenumber or kKeep
  std::exception_ptr raise_;  // for the caller once the copy is cleaned up
  struct RegistryRow {
    const char* tag;
    String value;
    bool remove;
  };
  std::vector<RegistryRow> registry_;  // the destination's identity rows to write
  std::vector<std::string> idTables_;  // the destination's tables of counter ids
  String destId_;                      // its catalog id once they are committed; "" as it is
};

}  // namespace

int Node::copy(Node& dest, Filter& filter, bool withCategories, Handler* handler,
               IdMapping mapping) {
  CatalogCopy copy(*m_impl, *NodeAccess::impl(dest), filter, withCategories, handler, mapping);
  const Outcome out = copy.run();
  if (out.raise != nullptr) std::rethrow_exception(out.raise);
  return out.status;
}

}  // namespace Vendrithane
}  // namespace KESTRIN
