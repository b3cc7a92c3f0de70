// The Node methods of asset types and records, passed on to the persistence layer with
// thrown Status values turned into results where the method returns one.
#include <mutex>

#include "asset/AssetAccess.h"
#include "asset/AssetImpl.h"
#include "asset/AssetLayer.h"
#include "asset/AssetStatements.h"
#include "asset/CatalogAssets.h"
#include "node/NodeImpl.h"
#include "node/StatusOf.h"
#include "vendrithane/Node.h"

namespace KESTRIN {
namespace Vendrithane {

using node::statusOf;

void NodeImpl::dropKnownTable(const std::string& table) {
  platform::MutexLock hold(tablesLock_);
  tables_.erase(table);
}

int Node::assetDeclare(const char* name, bool inCollection) {
  return statusOf([&] { return assets::declareType(*m_impl, name, inCollection); });
}

bool Node::assetDeclared(const char* name, bool inCollection) {
  return assets::typeDeclared(*m_impl, name, inCollection);
}

int Node::assetDestroy(const char* name, bool inCollection) {
  return statusOf([&] { return assets::destroyType(*m_impl, name, inCollection); });
}

Asset Node::asset(const char* name, bool inCollection) {
  return AssetAccess::make(assets::newAsset(*m_impl, name, inCollection));
}

Asset Node::assetLoad(int id) {
  return AssetAccess::make(assets::loadAsset(*m_impl, id, assets::kAssetsTable, true));
}

Asset Node::assetLoad(int id, const char* type) {
  return AssetAccess::make(assets::loadAsset(*m_impl, id, type, false));
}

int Node::assetRemove(const std::vector<int>& ids) {
  return statusOf([&] { return assets::removeAssets(*m_impl, ids); });
}

std::vector<String> Node::assetNames(bool remote, bool ownTypesOnly) {
  return assets::typeNames(*m_impl, remote, ownTypesOnly);
}

std::vector<std::pair<String, unsigned>> Node::indexedElements(const char* type,
                                                               bool inCollection) {
  if (!m_impl->isOpen()) throw StatusNotOpen;
  String table = inCollection ? String(assets::kAssetsTable) : String(type);
  table.makeLower();
  const std::string tableName(table.buffer());
  const assets::ElementIndexMap& map = assets::elementIndexes(*m_impl);
  std::vector<std::pair<String, unsigned>> elements;
  for (const std::string& column : map.columns(tableName)) {
    int flags = map.flags(tableName, column);
    if (flags >= 0) elements.emplace_back(String(column.c_str()), static_cast<unsigned>(flags));
  }
  return elements;
}

}  // namespace Vendrithane
}  // namespace KESTRIN
