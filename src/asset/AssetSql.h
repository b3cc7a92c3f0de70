// Statement helpers of the persistence layer, on the node's statement wrapper: a statement
// run with texts bound by their length, the row statement texts kept per thread, and the
// recording of a failure under the status the calling operation reports.
#ifndef VENDRITHANE_ASSET_ASSETSQL_H
#define VENDRITHANE_ASSET_ASSETSQL_H

#include <string>
#include <vector>

#include "node/Statement.h"
#include "vendrithane/Status.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {
namespace assets {

using EngineFailure = node::EngineError;

// Runs the one statement `sql` with `texts` bound to its parameters ?1, ?2, ... by their
// length. Returns the rows it changed, or -1 with *failure filled (nothing recorded).
int runBound(node::NodeConnection& connection, const std::string& sql,
             const std::vector<String>& texts, EngineFailure* failure);
// The text of a row statement `format` with its %s parts in place: the table (quoted here
// as an identifier), then one or two parts given ready as SQL. Runs of stores and updates
// keep making the same few texts, so the last ones made on this thread are kept; the
// reference stays valid until the next call on the thread.
const std::string& rowStatementText(const char* format, const std::string& table,
                                    const std::string& b, const std::string& c = std::string());
// As runBound, with the record id bound to the parameter :id, through the connection's
// compiled statements (`sql` is the same text for every id); `texts` go to the other
// parameters in order. *expanded receives the text with the values in place, for an error
// record.
int runBoundWithId(node::NodeConnection& connection, const std::string& sql,
                   const std::vector<String>& texts, int id, EngineFailure* failure,
                   std::string* expanded);

// Runs `sql` (several statements allowed). On failure records `recordAs` with the engine's
// code and message, fills *failure and returns false.
bool runRecorded(node::NodeConnection& connection, const std::string& sql, Status recordAs,
                 EngineFailure* failure);

// Records `failure` of `sql` on the connection as `status`.
void recordFailure(node::NodeConnection& connection, Status status, const EngineFailure& failure,
                   const std::string& sql);

}  // namespace assets
}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_ASSET_ASSETSQL_H
