// The catalog-wide id allocator. Every record id of a catalog (assets, category namespaces,
// category nodes, membership rows) comes from the counter in vd_id, reserved in blocks of 20
// through the catalog's shared id block, so that every process on the machine that has the
// catalog open draws from one block. The give-back at the last detach returns the unused
// ids of a block this machine reserved.
#ifndef VENDRITHANE_NODE_IDALLOCATOR_H
#define VENDRITHANE_NODE_IDALLOCATOR_H

#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

class NodeConnection;

constexpr int kIdBlock = 20;  // ids reserved from the file at a time

// The next id of the catalog, drawn on `connection` under the per-catalog mutex; a new block
// is reserved in a transaction level of its own (nested in the caller's when one is open).
// Returns -1 when the counter cannot be read or the reservation cannot be committed. A
// failing write of the counter is recorded as 31 and thrown as 81 (read-only) or 31; the
// level is then rolled back (the caller's transaction is marked for rollback) and no hold is
// left behind.
int nextId(NodeConnection& connection);

// The catalog's next id: the shared block's next id while a block is reserved, else the
// counter stored in vd_id (read on `connection`). Caller holds the per-catalog mutex.
// Returns -1 (recorded) when the counter cannot be read.
int catalogNextId(NodeConnection& connection);

// Forgets the shared block (next and end -1), so that the next id comes from a new block
// reserved from vd_id. Caller holds the per-catalog mutex.
void forgetIdBlock(NodeConnection& connection);

// Writes the unused rest of the current block back to vd_id, when this machine reserved the
// block the file's counter ends and has handed out only part of it; the shared block is then
// forgotten (-1), so nobody draws from it any more. Caller holds the per-catalog mutex.
// Returns 0, 80 when the counter cannot be read, or a commit's failure.
Status giveBackIds(NodeConnection& connection);

// Raises the counter stored in vd_id to `highest` + 1, inside the caller's transaction, and
// forgets the shared block, so that the next id drawn comes after every id in use. Caller
// holds the per-catalog mutex (a rollback puts the block of the outermost begin back).
// 0, 80 (no id follows `highest`), or the write's status (recorded).
Status raiseIdCounter(NodeConnection& connection, long long highest);

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_NODE_IDALLOCATOR_H
