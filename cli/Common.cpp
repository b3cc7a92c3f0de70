// The catalog of a command, failures and the shared texts.
#include "Common.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>

namespace vdcli {

namespace fs = std::filesystem;

std::unique_ptr<vd::Node> catalogNode(const Context& context, const std::string& path) {
  fs::path p(path);
  std::string name = p.filename().string();
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".vd") == 0) name.resize(name.size() - 3);
  if (name.empty()) throw UsageError{"not a catalog path: \"" + path + "\""};
  std::string dir = p.parent_path().string();
  dir = dir.empty() ? "./" : dir + "/";
  std::string blobDir = context.blobDir.empty() ? dir : context.blobDir + "/";
  try {
    return std::make_unique<vd::Node>(name.c_str(), dir.c_str(), blobDir.c_str());
  } catch (vd::Status s) {
    throw Failure{s, "the machine-wide objects of the library could not be opened"};
  }
}

namespace {

std::string openMeaning(int status) {
  switch (status) {
    case vd::StatusNotFound:
      return "the catalog's main file does not exist";
    case vd::StatusNotCatalog:
      return "the file is not a catalog";
    case vd::StatusUnknownFormat:
      return "the catalog's format is unknown or newer than this tool";
    case vd::StatusCorrupt:
      return "the catalog is damaged";
    case vd::StatusReadOnly:
      return "the catalog is read-only; nothing was changed";
    case vd::StatusFileMismatch:
      return "the catalog's files are not as expected";
    default:
      return "the catalog could not be opened";
  }
}

}  // namespace

Catalog::Catalog(const Context& context, const std::string& path, Use use)
    : path_(path), node_(catalogNode(context, path)) {
  int status = node_->open();
  if (status == vd::StatusReadOnly && use == kRead) {
    status = node_->open(false, true);
    if (status == 0)
      std::cerr << "vendrithane: " << path << " is read-only: reading a temporary copy\n";
  }
  if (status != 0) throw Failure{status, openMeaning(status), "open " + path};
}

Catalog::~Catalog() {
  if (node_) node_->close();
}

bool Catalog::ownTable(const std::string& type) {
  try {
    return node_->assetDeclared(type.c_str(), false);
  } catch (vd::Status) {
    return false;
  }
}

vd::Asset Catalog::load(int id) {
  vd::String name;
  vd::ObjectType kind;
  try {
    kind = node_->characterizeID(id, name);
  } catch (vd::Status s) {
    throw Failure{s, "the catalog could not be read"};
  }
  if (kind != vd::ObjectAsset)
    throw Failure{vd::StatusNotFound, "no record has id " + std::to_string(id)};
  try {
    if (ownTable(name.buffer())) return node_->assetLoad(id, name.buffer());
    return node_->assetLoad(id);
  } catch (vd::Status s) {
    throw Failure{s, "record " + std::to_string(id) + " could not be read"};
  }
}

std::vector<std::string> catalogFiles(vd::Node& node) {
  std::vector<vd::String> names = node.systemFilenames(false);
  return {std::string(node.path(false).buffer()) + names.at(0).buffer(),
          std::string(node.path(true).buffer()) + names.at(1).buffer()};
}

void check(int status, const std::string& meaning) {
  if (status != 0) throw Failure{status, meaning};
}

const char* typeText(vd::Type type) {
  switch (type) {
    case vd::TypeInt4:
      return "int4";
    case vd::TypeInt8:
      return "int8";
    case vd::TypeText:
      return "text";
    case vd::TypeTime:
      return "time";
    case vd::TypeBlob:
      return "blob";
    case vd::TypeAsset:
      return "asset";
    default:
      return "undef";
  }
}

std::string isoTime(long long seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* utc = std::gmtime(&t);  // the tool has one thread
  if (utc == nullptr) return std::to_string(seconds);
  const std::tm parts = *utc;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

bool parseTime(const std::string& text, long long* seconds) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  if ((n == 3 && text.size() == 10) || n == 6) {
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
    *seconds = vd::Time(y, mo, d, h, mi, s);
    return true;
  }
  try {
    *seconds = static_cast<long long>(vd::String(text.c_str()));
    return true;
  } catch (vd::Status) {
    return false;
  }
}

std::string recordLabel(vd::Asset& asset) {
  if (asset.elementExists("name")) return vd::String(asset.element("name")).buffer();
  asset.nElements();
  for (const auto& entry : *asset.elems()) {
    if (entry.second->type() == vd::TypeText) return vd::String(*entry.second).buffer();
  }
  return "";
}

const char* locationText(vd::Blob::Location location) {
  switch (location) {
    case vd::Blob::LocationCatalog:
      return "catalog";
    case vd::Blob::LocationManaged:
      return "managed";
    case vd::Blob::LocationFile:
      return "file";
    case vd::Blob::LocationOther:
      return "other";
    default:
      return "none";
  }
}

}  // namespace vdcli
