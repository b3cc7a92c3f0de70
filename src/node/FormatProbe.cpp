// The format probe and the format check.
#include "node/FormatProbe.h"

#include <cstring>
#include <memory>

#include "node/LockedCopy.h"
#include "node/NodeConnection.h"
#include "node/Schema.h"
#include "node/Statement.h"
#include "node/Statements.h"
#include "platform/Files.h"
#include "platform/RawFile.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {

constexpr char kMark[] = "Vendrithane";  // the first 11 bytes of every catalog file
constexpr size_t kMarkLength = 11;
constexpr int64_t kMagicOffset = 16;   // old engine: the b-tree magic
constexpr int64_t kFormatOffset = 32;  // old engine: the format number

uint32_t littleEndian(const unsigned char* b) {
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint32_t bigEndian(const unsigned char* b) {
  return uint32_t(b[3]) | uint32_t(b[2]) << 8 | uint32_t(b[1]) << 16 | uint32_t(b[0]) << 24;
}

}  // namespace

int probeFormat(const std::string& mainFile) {
  platform::RawFile file(mainFile);
  if (!file.valid()) return -1;
  unsigned char head[12];
  if (file.readAt(0, head, sizeof head) != static_cast<int64_t>(sizeof head)) return -1;
  if (std::memcmp(head, kMark, kMarkLength) != 0) return -1;
  if (head[11] == 'F') return kCurrentFormat;
  if (head[11] < '1' || head[11] > '4') return -1;
  unsigned char word[4];
  if (file.readAt(kMagicOffset, word, 4) != 4) return -1;
  bool little = littleEndian(word) == kOldEngineMagic;
  if (!little && bigEndian(word) != kOldEngineMagic) return -1;
  if (file.readAt(kFormatOffset, word, 4) != 4) return -1;
  return static_cast<int>(little ? littleEndian(word) : bigEndian(word));
}

bool oldJournalPresent(const std::string& mainFile, const std::string& blobFile) {
  if (probeFormat(mainFile) <= kLastOldFormat) return false;
  return platform::fileSize(journalOf(mainFile)) > 0 || platform::fileSize(journalOf(blobFile)) > 0;
}

FormatCheck checkFormat(const std::string& mainFile, const std::string& blobFile, NodeImpl* node) {
  int format = probeFormat(mainFile);
  if (format < 0) return {StatusNotCatalog, format};
  if (format > kCurrentFormat && format < 1999) return {StatusUnknownFormat, format};
  if (format < kCurrentFormat || (format > 1998 && format < 2005)) {
    bool blobExists = format > 2000 && platform::fileExists(blobFile);
    return {blobExists ? StatusFileMismatch : StatusUpgradeNeeded, format};
  }
  std::unique_ptr<NodeConnection> connection;
  try {
    connection = std::make_unique<NodeConnection>(mainFile, blobFile, node, true);
  } catch (Status) {
    return {StatusCorrupt, format};
  }
  String text;
  Status read = queryValue(*connection, kSelectVersion, &text);
  if (read != StatusOk) {
    bool damaged = read == StatusCorrupt || isDamageCode(connection->lastError().engineCode);
    return {damaged ? StatusCorrupt : StatusNoVersion, format};
  }
  SchemaVersion stored = parseSchemaVersion(text);
  SchemaVersion library = parseSchemaVersion(kLibraryVersion);
  if (stored.major == library.major) return {StatusOk, format};
  return {stored.major > library.major ? StatusUnknownFormat : StatusUpgradeNeeded, format};
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN
