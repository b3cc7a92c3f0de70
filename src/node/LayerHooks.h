// LayerHooks: what a layer above the node keeps for one catalog (the asset layer's live
// records and index map, the category layer's tree cache), and the calls the node makes
// into it at fixed points of its life. Each layer derives its per-catalog state from one of
// these interfaces and registers it on the node when the node is made
// (services/NodeLayers.cpp); the node reaches a higher layer only through them and never
// includes its headers.
#ifndef VENDRITHANE_NODE_LAYERHOOKS_H
#define VENDRITHANE_NODE_LAYERHOOKS_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "vendrithane/Status.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

class NodeConnection;

class LayerHooks {
 public:
  virtual ~LayerHooks() = default;
  // Open, once the connections are ready: reads what the layer keeps in memory. Layers load
  // from the lowest up; a status the node does not accept fails the open.
  virtual Status load(NodeConnection& connection) = 0;
  // What the layer derives from the catalog's schema (the asset layer's index map): read at
  // open and again whenever the schema moved, as part of the node's schema view
  // (NodeImpl::reloadSchemaView). Other threads may use that state meanwhile: the layer
  // reads first and replaces its state at once under its own lock. 0, or the failing
  // statement's status (recorded).
  virtual Status loadSchema(NodeConnection& connection) {
    (void)connection;
    return StatusOk;
  }
  // Open's upgrade of a catalog of the earlier storage generation: converts the old files
  // (oldMain, oldBlob; read only) into the new, empty catalog (newMain, newBlob). 0, 25, 78 or
  // 26; rows dropped as duplicates are listed in *dropped. Only the asset layer, which
  // knows the tables of declared types, converts; any other layer declines with 26.
  virtual Status convertLegacy(const std::string& oldMain, const std::string& oldBlob,
                               const std::string& newMain, const std::string& newBlob,
                               std::string* dropped) {
    (void)oldMain, (void)oldBlob, (void)newMain, (void)newBlob, (void)dropped;
    return StatusUpgradeFailed;
  }
  // Close, or an open that failed: forgets what load read. Called with no lock of the node
  // held; the layer takes its own.
  virtual void clear() = 0;
  // Another node deleted record `id`: its live object here, if any, no longer stands for a
  // stored record (its id becomes -1). Returns whether one was live. Caller holds the
  // per-catalog mutex.
  virtual bool forgetRecord(int id) {
    (void)id;
    return false;
  }
};

// The category layer's tree cache as the node sees it.
class CategoryHooks : public LayerHooks {
 public:
  // Categories in memory (the node-state XML's "inPlay").
  virtual size_t inMemory() const = 0;
  // Appends a line for each category still held by a handle (the debug listing).
  virtual void describeHeld(std::string* text) const = 0;
  // The label of the namespace of category `id` when it is in memory.
  virtual bool namespaceLabel(int id, String* label) const = 0;
  // Whether category `node` is `ancestor` or lies below it, as far as the cache knows (the
  // SQL function vd_cat_decendent). Any thread, without the per-catalog mutex.
  virtual bool descends(long long node, long long ancestor) const = 0;
  // Other nodes' category changes, in the order they were posted: (kind, id) of kinds 2 to
  // 5; with `rebuild` (a kind 1, or records lost) the whole tree is read anew instead.
  // Caller holds the per-catalog mutex. 0, or the status of a read that failed: the cache
  // may then miss changes, and the caller asks for a rebuild next time.
  virtual Status applyEvents(NodeConnection& connection,
                             const std::vector<std::pair<int, int>>& events, bool rebuild) = 0;

  // The category steps of record persistence, run inside the caller's transaction on the
  // calling thread's connection (0, or the failing statement's status):
  // `id` (a record) leaves every category that holds it;
  virtual Status removeMember(int id) = 0;
  // the categories holding `id` whose namespace counts a change of members as a change
  // are marked modified (cheap when no namespace does);
  virtual Status touchHolders(int id) = 0;
  // the namespaces whose target is the own-table type `type` are destroyed;
  virtual Status destroyTargetNamespaces(const String& type) = 0;
  // and, after memberships were deleted behind the cache, the populations are read anew
  // (the old ones come back with a rollback).
  virtual void reloadPopulations(NodeConnection& connection) = 0;
};

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_LAYERHOOKS_H
