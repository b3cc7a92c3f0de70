// Normalised paths, catalog keys and kernel-object names.
#include "monitor/CatalogKey.h"

#include <algorithm>
#include <cctype>

#include "monitor/SectionLayout.h"
#include "platform/Files.h"
#include "platform/ObjectNames.h"
#include "types/Md5.h"
#include "vendrithane/Status.h"

namespace KESTRIN {
namespace Vendrithane {
namespace monitor {

namespace {

std::string globalName(const std::string& suffix) {
  std::string name = "Global\\" + platform::objectPrefix() + suffix;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

}  // namespace

std::string normalisedPath(const std::string& mainFile) {
  std::string path = mainFile;
  std::replace(path.begin(), path.end(), '\\', '/');
  std::string resolved = platform::resolvedPath(path);  // an existing file: links resolved too
  if (!resolved.empty()) return resolved;
  std::string full = platform::fullPath(path);
  if (full.empty()) throw StatusNotFound;
  return full;
}

std::string catalogKey(const std::string& normalised) {
  return md5Grouped(normalised.data(), normalised.size());
}

std::string slotKeyFor(const std::string& normalised) {
  if (normalised.size() < kKeyBytes) return normalised;
  return "#" + catalogKey(normalised);
}

std::string catalogKeyOfSlot(const std::string& slotKey) {
  if (!slotKey.empty() && slotKey[0] == '/') return catalogKey(slotKey);
  if (slotKey.size() == 37 && slotKey[0] == '#') return slotKey.substr(1);
  return "";
}

std::string sectionName() {
  return globalName(".section");
}
std::string systemMutexName() {
  return globalName(".system");
}
std::string posterCounterName() {
  return globalName(".poster");
}
std::string catalogMutexName(const std::string& k) {
  return globalName(":" + k + ".mutex");
}
std::string catalogUpgradeName(const std::string& k) {
  return globalName(":" + k + ".upgrade");
}
std::string catalogEventName(const std::string& k) {
  return globalName(":" + k + ".event");
}
std::string catalogLivenessName(const std::string& k) {
  return globalName(":" + k + ".live");
}

}  // namespace monitor
}  // namespace Vendrithane
}  // namespace KESTRIN
