// Node: one catalog, a main file (name + ".vd") holding every record and a blob file
// (name + ".vm") holding binary values. A Node is a handle: copies share one catalog
// object, and the last handle to go closes the catalog. Constructing a Node touches nothing
// on disk; create() makes the files, open() makes the catalog usable, close() ends that.
//
// Methods that act on the catalog return a Status value as an int (0 on success). All
// methods may be called from any thread; at most five threads use an open catalog at a
// time, a sixth waits until one of them is done. open, create, close, exists, remove and
// mode never overlap with one another anywhere on the machine.
#ifndef VENDRITHANE_NODE_H
#define VENDRITHANE_NODE_H

#include <utility>
#include <vector>

#include "vendrithane/Asset.h"
#include "vendrithane/Category.h"
#include "vendrithane/Export.h"
#include "vendrithane/Status.h"
#include "vendrithane/String.h"
#include "vendrithane/Time.h"

namespace KESTRIN {
namespace Vendrithane {

class Filter;
class Handler;
class NodeImpl;
struct NodeAccess;

// What an id of a catalog names (Node::characterizeID).
enum ObjectType : int {
  ObjectAsset = 0,     // a record
  ObjectCategory = 1,  // a category
  ObjectNone = 2,      // nothing of the catalog
};

// How Node::copy numbers the records, categories and memberships it copies.
enum IdMapping : int {
  IdMappingAutomatic = 0,  // keep ids into a new catalog or an unchanged copy, else new ids
  IdMappingNewIds = 1,     // new ids; the destination must not have this catalog's id
  IdMappingKeepIds = 2,    // the same ids; the destination must be new or have this id
};

class VENDRITHANE_API Node {
 public:
  // Options of configure.
  enum Option : int {              // any int is a valid Option: unknown ones give 14 or -1
    OptionSynchronous = 0,         // the engine's synchronous flag of this thread's connection
    OptionDefaultSynchronous = 1,  // the engine's default synchronous flag
    OptionOtherProcesses = 2,      // read-only: whether another process uses the library
  };

  // A catalog called `name` in `mainDir`, its blob file in `blobDir` (null: in mainDir).
  // "\" in directories reads as "/"; a null or empty mainDir is the current directory.
  // Throws StatusSharedObjectFailed when the machine-wide objects cannot be opened.
  Node(const char* name, const char* mainDir, const char* blobDir = nullptr);
  Node(const Node& other);  // shares other's catalog
  // Assigning a handle of the same catalog does nothing; a handle never changes its
  // catalog, so assigning one of another catalog throws StatusWrongCatalog (44).
  Node& operator=(const Node& other);
  ~Node();

  // Opens the catalog: checks its format and builds the connections. With checkOnly it
  // only reports the format (0 current, 1 needs the upgrade) and stays closed. A read-only
  // main file is refused (81) unless readOnlyCopy: the catalog is then copied into tempDir
  // (null: the system's temporary directory) as name + "-readonly-copy" (plus a number
  // when taken) and the copy is opened; close() deletes it. A failed open leaves the node
  // closed with nothing held. Returns 0, 1, 5, 9, 11, 12, 20 (already open), 25, 26, 30
  // (no main file), 36 (unknown or newer format), 78 or 81.
  int open(bool checkOnly = false, bool readOnlyCopy = false, const char* tempDir = nullptr);
  // Makes a new empty catalog and leaves it closed: 18 when it exists and !replace, 10
  // when it could not be deleted, 19 when the schema or the catalog id could not be
  // written, 81 when the files are read-only, 20 when this node is open.
  int create(bool replace = false);
  // Closes the catalog: 77 while a thread of this process has a transaction open on it,
  // 20 when it is not open. Calls running on other threads finish first.
  int close();
  // 0 when the main file exists, -1 otherwise.
  int exists();
  // Deletes both files of a closed catalog: 20 when open or a file could not be deleted.
  int remove();
  // Makes both files owner-read-only or owner-read-write; 13 on failure.
  int mode(bool readOnly);
  bool local() const { return true; }

  // The blob directory if `blob`, else the main directory, with a trailing "/".
  String path(bool blob = false) const;
  void path(const char* mainDir, const char* blobDir = nullptr);
  String name() const;
  void name(String name);
  // The main file's and the blob file's names, in that order; with withPath both are
  // prefixed with the main directory.
  std::vector<String> systemFilenames(bool withPath) const;

  // Backups: a copy of the main file (backup directory + backup name + ".vb") and of the
  // blob file (+ ".vbb"), byte for byte. The backup directory follows the main directory
  // while the two are equal; an empty one means the main directory, an empty name the
  // catalog's name (both are set so at the next backup). backupPath(p) keeps p as given and
  // appends "/" unless it ends in "/" or "\"; file names read "\" as "/".
  String backupPath();
  void backupPath(String p);
  String backupName();
  void backupName(String n);
  // Whether the backup main file exists and can be read.
  bool backupExists();
  // Makes both backup files owner-read-only or owner-read-write: 0; 13 when a backup file
  // could not be made writable (read-only: always 0).
  int backupMode(bool readOnly);
  // Copies the catalog's two files as one consistent state while other threads and
  // processes use it, waiting for their writes to end. Copies are written beside their
  // targets and put in place together: a backup is the old pair or the new one, never a
  // mix. With asCatalog the copies take the catalog extensions ".vd" and ".vm" and open as
  // a catalog. With verifyFirst the copy is checked before it is put in place. Returns 0;
  // 9 no main file; 11 a copy failed, a target exists under keepExisting, or asCatalog
  // would write over the catalog itself or a catalog open on the machine; 18 verifyFirst of
  // a catalog without blob file; 25 the check failed; 32 not enough free space; 77 the
  // calling thread has a transaction or a running statement on the catalog.
  int backup(bool keepExisting, bool verifyFirst, bool asCatalog);
  // Puts the backup in place of the catalog's files (a backup without blob backup removes
  // the blob file). Returns 0; 9 no backup; 11 a copy failed or a catalog file exists under
  // keepExisting; 20 the catalog is open anywhere on the machine; 25 the check failed; 32
  // not enough free space; 81 the restored main file is not writable.
  int backupRestore(bool keepExisting, bool verifyFirst);
  // Bytes of the main file plus the blob file; -1 when either is missing.
  long long size();
  // Free pages over all pages of both files, in [0, 1].
  double fragmentation();
  // Compacts both files: 0; 20 not open; 68 the blob file could not be compacted; 77 the
  // calling thread has a transaction open; or the main file's compaction status.
  int optimize();

  // The catalog's schema version text ("6.0"); "" when the node is not open.
  String version();
  // Sets an option: 31 when the engine refused it, 24 for the read-only option, 14 for an
  // unknown one, 20 when not open.
  int configure(Option option, int value);
  // Reads an option: the value, -1 when empty or unknown (option 2: -1 when another
  // process uses the library or nobody can tell, else 0); 20 when not open.
  int configure(Option option);

  // Transactions, per thread and nestable. The outermost begin keeps every other thread and
  // process out of the catalog's transactions and id allocation until the outermost commit
  // or rollback; the thread keeps its connection meanwhile. Writes of the library made in
  // between join the transaction, and their change events reach other nodes at the commit.
  // Begins (or nests) a transaction, waiting as long as needed: 0, 20 not open, 54 the
  // database refused to begin.
  int transactionBegin();
  // As transactionBegin, but 77 at once while another thread of this process has a
  // transaction open on the catalog (other processes are still waited for).
  int transactionBeginNoBlock();
  // Ends one level; the outermost commits, or rolls back when a level was rolled back (and
  // still returns 0). 55 when the commit failed: the transaction was rolled back and the
  // catalog released. 56 rollback failed, 58 no transaction open, 20 not open.
  int transactionCommit();
  // Ends one level and marks the transaction for rollback; the outermost level rolls back.
  // 0, 20, 56, 58.
  int transactionRollback();
  // 57 a transaction is open, 59 open and marked for rollback, 58 none, 20 not open.
  int transactionState();

  // The registry of host values: text kept under a tag, one value per tag. Ints are stored
  // in decimal, Times as their seconds in decimal. Each returns 0, 20 when not open, or the
  // database's failure; within a transaction of the thread, stores and removes join it.
  int scalarStore(String tag, String value);
  int scalarStore(String tag, int value);
  int scalarStore(String tag, Time value);
  // 30 when the tag is absent (a String target is then set to ""; an int or Time target is
  // left alone). A value that is not a number reads as far as its digits go.
  int scalarLoad(String tag, String& value);
  int scalarLoad(String tag, int& value);
  int scalarLoad(String tag, Time& value);
  // Removing an absent tag succeeds.
  int scalarRemove(String tag);
  // Every tag of the registry (the catalog's own "vd_dbid" among them), in byte order.
  // Throws 20 when not open, 31 when the engine fails.
  std::vector<String> scalarNames();

  // Asset types. A collection type (inCollection) keeps its records in the shared table and
  // needs no declaration; an own-table type has a table named after it. Type names are
  // lower-cased; an own-table name must be a plain identifier (letters, digits and "_", not
  // starting with a digit, without "vd_"; an SQL keyword such as "match" is fine).
  // Declares an own-table type (0 at once for a collection type): 0, 14 (not a plain
  // identifier), 18 (declared already), 20, 81 (read-only), 31.
  int assetDeclare(const char* name, bool inCollection);
  // True for a collection type; else whether the type's table exists. Throws 20.
  bool assetDeclared(const char* name, bool inCollection);
  // Deletes every record of the type, and an own type's table: 0, 20, 30 (own-table type
  // not declared), 67 (records of a collection type whose removal would leave categories
  // empty that are not kept), 14, or a failing statement's status.
  int assetDestroy(const char* name, bool inCollection);
  // A new unsaved record of the type, bound to this catalog. Throws 64 for an own-table type
  // that is not declared, or the status of a failing read of the catalog's schema.
  Asset asset(const char* name, bool inCollection);
  // The record with that id of the shared table. While a handle on a stored record exists,
  // every load of its id gives a handle on the same record. Throws 20, 30 (no such record)
  // or 31.
  Asset assetLoad(int id);
  // As assetLoad(id), looking in the type's own table first when it is declared.
  Asset assetLoad(int id, const char* type);
  // Deletes records of the shared table by id, all or none: 0, 20, 29 (an id that is not
  // a record of the shared table, or a failing delete).
  int assetRemove(const std::vector<int>& ids);
  // The names of the catalog's tables; with ownTypesOnly those of the own-table types only.
  // A true `remote` throws 24; throws 20 when not open.
  std::vector<String> assetNames(bool remote, bool ownTypesOnly);
  // The promoted elements of a type (Element::index) with their flags, in name order, as
  // the catalog declared them when it was opened or last changed its schema. The elements
  // of every collection type share one table, so a collection type lists them all; an
  // own-table type that is not declared has none. Throws 20 when not open.
  std::vector<std::pair<String, unsigned>> indexedElements(const char* type, bool inCollection);

  // Category namespaces. A namespace is a named root whose categories hold records of one
  // type (the prototype's), or, for the second form, category nodes of other namespaces
  // (target "vd_cat_nde"). persistEmpty keeps categories without members; membersModify
  // counts a change of members as a change of the category.
  // Each: 0, 41 (a namespace of that name exists), 20, 24 (the second form over a namespace
  // whose target is "vd_cat_nde"), or a write's status.
  int categoryDeclare(char const* name, Asset& prototype, bool persistEmpty, bool membersModify);
  int categoryDeclare(char const* name, Category& category, bool persistEmpty, bool membersModify);
  // Whether a stored namespace of that name exists (false when not open).
  bool categoryDeclared(char const* name);
  // The namespace root of that name. Throws 30 when there is none, 20 when not open.
  Category category(char const* name);
  // Deletes a namespace with its tree and memberships: 0, 30 (none of that name), 20, or the
  // status of the deletion (nothing is changed then).
  int categoryDestroy(char const* name);
  // The category of that id, read from the catalog when it is not in memory. Throws 30 when
  // there is no such category, 20 when not open.
  Category categoryLoad(int id);
  // The namespaces' names, in the order they were declared (or loaded). Throws 20 when not
  // open.
  std::vector<String> categoryNamespaces();
  // Delivers to a ready handler (category mode) each category holding any of the records,
  // or of the categories, with categoryEvent(category, n), n the number of the listed
  // members it holds; only those of the namespace so named unless nameSpace is null or "".
  // 0 (also at once for an empty list), 20, 30 (no such namespace), 46, or a read's status.
  int categoryMembership(std::vector<Asset*> const& assets, Handler& handler, char* nameSpace);
  int categoryMembership(std::vector<Category*> const& categories, Handler& handler,
                         char* nameSpace);
  // Date trees: checks the years below the namespace root `category` (labels below 0 or
  // above 3000 as numbers); with fix, removes those nodes and their subtrees. 0 (also when
  // check is false), 47 (bad years, fix false), 27 (a removal failed: nothing changed), 20.
  int categoryVerifyAndFix(Category category, bool check, bool fix);
  // Gives the month and day labels of one digit in the listed namespaces their leading zero,
  // merging a node into its sibling of the same label (children, at any depth, and
  // members). The tree is read again in place: handles stay valid. 0, 20, 4, 74, or a
  // statement's status.
  int fixDateCats(std::vector<int> const& namespaceIds);
  // Checks the catalog: the engine's integrity check (25, nothing else examined; its first
  // lines become the last error), then ids (80), index declarations (48), namespace names
  // and sibling labels (47), nodes that cannot reach a namespace or that are left without
  // members where their namespace does not keep empty ones (67), memberships of missing
  // categories (62), of missing members (63) and missing from a category's parent (79),
  // namespaces whose members have no table (65), the schema's indexes (48) and the blob
  // table (33). Without fix it reports the first problem and writes nothing. With fix it
  // repairs in one transaction until a pass finds nothing, then reads its caches again in
  // place (other nodes reload): 0, 27 or 81 (a repair failed: nothing kept), 77 when the
  // calling thread has a transaction open on the catalog. Also 4 (a count unreadable),
  // 20. The second argument has no effect.
  int verifyAndFix(bool fix, bool unused);

  // Copies the records the filter selects (no ordering terms, one table) with their blobs
  // into `dest`, which is created and opened (and closed again) when it is not open; with
  // withCategories also their memberships and the namespaces and categories these need,
  // each offered to `handler` first (copyNamespaceEvent, copyCategoryEvent, on this thread,
  // with both catalogs held; null copies every one under its own name). All or nothing,
  // in one transaction. 0; 20 (not open, or dest could not be opened), 19 (dest could not
  // be created), 24 (an unknown mapping, a filter of several tables, a destination with this
  // catalog's id but no copy marker, or a namespace of the same name with another target),
  // 44 (identities refuse the mapping, or dest is this catalog), 45 (ordering terms), 41 (a
  // new id is taken in dest), 77 (this thread has a transaction open on either catalog), 4
  // (a category mapped twice), or a statement's status. Throws Status 4 when a namespace or
  // category row cannot be written, and rethrows what a copy event throws, both after the
  // clean-up.
  int copy(Node& dest, Filter& filter, bool withCategories, Handler* handler, IdMapping mapping);

  // Queries (Filter.h). The number of records, or of category nodes, the filter selects
  // (its limit and offset applied), -1 when the engine refuses the statement (recorded).
  // The ids of the selected records in the filter's order. Each throws 20 when the catalog
  // is not open, 45 for a filter that makes no statement, 4 for a reference to an element
  // without a record or name; assetIdLoad throws 31 (recorded) when the engine refuses.
  int assetCount(Filter& filter);
  int categoryCount(Filter& filter);
  std::vector<int> assetIdLoad(Filter& filter);
  // Loads into a ready handler (Handler.h) the records, or the category nodes, the filter
  // selects, in its order: each is delivered as it is read, on the calling thread. 0; 20
  // (not open), 46 (the handler is not ready), 45 or 4 (the filter makes no statement):
  // nothing delivered, the handler as it was; 60 (stopped, after stoppedEvent()); 31 or 81
  // (the engine failed, after errorEvent(31)). An exception thrown by an event method ends
  // the load and reaches the caller.
  int assetLoad(Filter& filter, Handler& handler);
  int categoryLoad(Filter& filter, Handler& handler);
  // Blocks the calling thread and tells `handler` what other nodes of the catalog change
  // (reloadEvent and the six change events of Handler.h), on this thread, in the order the
  // changes were committed, until the handler is stopped or the node closed; the handler is
  // in MonitorMode from then on. Returns 60 then; 20 at once when the node is not open, 77
  // when a monitor runs on it already. An exception thrown by an event method ends the
  // monitor and reaches the caller.
  int monitor(Handler& handler);

  // What `id` names: ObjectAsset (name: the record's type or its type's table),
  // ObjectCategory (name: the label of its namespace) or ObjectNone (name ""). Throws
  // StatusNotOpen (20) when not open, or the status of a failing query.
  ObjectType characterizeID(int id, String& name);
  // Writes a description of the node and its connections to the main directory as
  // name + ".vst"; a failure to write it is ignored.
  void dumpState();
  // Prints the categories that handles still hold to the standard error stream.
  void debugState();

 private:
  friend struct NodeAccess;  // the library's own access to the implementation
  struct Unset {};
  explicit Node(Unset) : m_impl(nullptr) {}  // NodeAccess::adopt sets m_impl at once

  NodeImpl* m_impl;  // the shared catalog object
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_H
