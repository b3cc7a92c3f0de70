// The verifyFirst check: the version read and either the registered check or PRAGMA
// integrity_check on each file, through connections of their own that skip every schema
// step (no attach, no upgrade), so that nothing is written.
#include "node/VerifyFirst.h"

#include <cstdlib>

#include "node/NodeConnection.h"
#include "node/Statement.h"
#include "node/Statements.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {

bool fileIsSound(const std::string& file) {
  NodeConnection connection(file, std::string(), nullptr, true);
  String result;
  return queryValue(connection, kIntegrityCheck, &result) == StatusOk && result == "ok";
}

}  // namespace

Status verifyFirstCheck(const std::string& mainFile, const std::string& blobFile,
                        CatalogFileCheck check, int* major) {
  *major = -1;
  try {
    if (!check && !fileIsSound(mainFile)) return StatusCorrupt;
    {
      NodeConnection connection(mainFile, std::string(), nullptr, true);
      String version;
      if (queryValue(connection, kSelectVersionFirst, &version) == StatusOk && !version.isEmpty())
        *major = std::atoi(version.buffer());
    }
    if (check) return check(mainFile, blobFile);
    if (!blobFile.empty() && !fileIsSound(blobFile)) return StatusCorrupt;
  } catch (Status) {
    return StatusCorrupt;  // a file the engine cannot open
  }
  return StatusOk;
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN
