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

#include <vector>

#include "vendrithane/Export.h"
#include "vendrithane/Status.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class NodeImpl;
struct NodeAccess;

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

  // The catalog's schema version text ("6.0"); "" when the node is not open.
  String version();
  // Sets an option: 31 when the engine refused it, 24 for the read-only option, 14 for an
  // unknown one, 20 when not open.
  int configure(Option option, int value);
  // Reads an option: the value, -1 when empty or unknown (option 2: -1 when another
  // process uses the library or nobody can tell, else 0); 20 when not open.
  int configure(Option option);

 private:
  friend struct NodeAccess;
  NodeImpl* m_impl;  // the shared catalog object
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_H
