// The node's diagnostics: the node-state XML with one element per connection slot, its file
// name + ".vst", and the list of categories still held by handles.

#include <cinttypes>
#include <cstdio>

#include "node/NodeImpl.h"
#include "platform/Files.h"

namespace KESTRIN {
namespace Vendrithane {

namespace {

constexpr char kStateVersion[] = "6.0";
constexpr char kNotAvailable[] = "N/A";
constexpr char kEmptySlot[] = "NULL";

// Text for an element's content: "&", "<" and ">" escaped, so that paths, messages and
// statements never break the document.
std::string xmlText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string orNotAvailable(const std::string& text) {
  return text.empty() ? kNotAvailable : xmlText(text);
}

std::string hex(uintmax_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%jX", value);
  return buffer;
}

const char* flag(bool value) {
  return value ? "true" : "false";
}

std::string element(const char* name, const std::string& text) {
  return std::string("<") + name + ">" + text + "</" + name + ">";
}

std::string element(const char* name, long long value) {
  return element(name, std::to_string(value));
}

std::string connectionStateXml(const node::NodeConnection& c) {
  node::ErrorRecord error = c.lastError();
  std::string xml = "<dbState>";
  xml += element("inExec", flag(c.inExec()));
  xml += element("dbExecs", c.execCount());
  xml += element("lastErrorExec", error.execOrdinal);
  xml += element("lastVdError", error.status);
  xml += element("lastSqlError", error.engineCode);
  xml += element("lastSqlErrorMsg", orNotAvailable(error.message));
  xml += element("lastErrorSql", orNotAvailable(error.statement));
  xml += element("node", hex(reinterpret_cast<uintptr_t>(c.node())));
  xml += element("threadId", hex(static_cast<unsigned long>(c.owner())));
  xml += element("dbNest", c.useCount());
  xml += element("transactionNest", c.depth.load());
  xml += element("idState", c.nextIdSnapshot.load());
  xml += element("inAbort", flag(c.abort.load()));
  xml += element("schemaRev", c.stamp());
  xml += element("mainDb", orNotAvailable(c.mainFile()));
  xml += element("blobDb", orNotAvailable(c.blobFile()));
  xml += element("pDb", hex(reinterpret_cast<uintptr_t>(c.db())));
  return xml + "</dbState>";
}

}  // namespace

std::string NodeImpl::stateXml() {
  std::string xml = std::string("<nodeState ver=\"") + kStateVersion + "\">";
  xml += element("startTime", xmlText(Time().toString().buffer()));
  xml += element("timeStamp", xmlText(startTime_.toString().buffer()));
  xml += element("refs", handles());
  {
    platform::ReaderLock hold(nameLock_);
    xml += element("dbName", xmlText(name_));
    xml += element("mainPath", xmlText(mainDir_));
    xml += element("blobPath", xmlText(blobDir_));
    xml += element("buName", xmlText(backupName_));
    xml += element("buPath", xmlText(backupDir_));
  }
  xml += element("schemaRev", pool_.generation());
  // Read without the catalog mutex: a diagnostic must not wait for another process's
  // transaction. A node that never opened has no block: -1.
  int32_t next, max;
  queue_.peekIdBlock(&next, &max);
  xml += element("nextId", next);
  xml += element("maxId", max);
  xml += element("inPlay", static_cast<long long>(categoryLayer().inMemory()));
  xml += "<connections number=\"5\">";
  pool_.visitSlots([&](int n, const node::NodeConnection* c) {
    xml += "<connection n=\"" + std::to_string(n) + "\">";
    xml += c ? connectionStateXml(*c) : kEmptySlot;
    xml += "</connection>";
  });
  return xml + "</connections></nodeState>";
}

void NodeImpl::dumpState() {
  std::string xml = stateXml();
  xml.append(2, '\0');
  std::string file;
  {
    platform::ReaderLock hold(nameLock_);
    file = mainDir_ + name_ + ".vst";
  }
  platform::writeWholeFile(file, xml);  // a diagnostic: failures are ignored
}

void NodeImpl::debugState() {
  std::string text = "\n\nCategories Still In Play:\n------------------------\n";
  categoryLayer().describeHeld(&text);
  std::fputs(text.c_str(), stderr);
}

}  // namespace Vendrithane
}  // namespace KESTRIN
