// Catalog id generation.
#include "node/CatalogId.h"

#include <cstdio>
#include <ctime>
#include <random>

#include "platform/Files.h"
#include "platform/SystemInfo.h"
#include "types/Md5.h"
#include "vendrithane/Time.h"

namespace KESTRIN {
namespace Vendrithane {
namespace node {

namespace {

constexpr char kUnknown[] = "XXXXXXXX";  // stands for an input that cannot be read

std::string orUnknown(const std::string& text) {
  return text.empty() ? kUnknown : text;
}

}  // namespace

std::string generateCatalogId(const std::string& mainFile) {
  char time[16], clockText[32];
  unsigned long low =
      static_cast<unsigned long>(static_cast<long long>(Time::currentTime())) & 0xFFFFFFFFul;
  std::snprintf(time, sizeof time, "%08lx", low);
  std::snprintf(clockText, sizeof clockText, "%ld", static_cast<long>(std::clock()));
  std::string full = platform::fullPath(mainFile);
  // Two catalogs made at one path within one second and one clock tick must still differ.
  std::random_device device;
  std::string entropy = std::to_string(device()) + std::to_string(device());
  std::string seed = std::string(clockText) + orUnknown(platform::machineId()) +
                     orUnknown(platform::userName()) + time + (full.empty() ? mainFile : full) +
                     "w" + entropy;
  return md5Grouped(seed.data(), seed.size());
}

}  // namespace node
}  // namespace Vendrithane
}  // namespace KESTRIN
