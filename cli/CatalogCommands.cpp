// Commands over a whole catalog: create, info, scalar, index, unindex and dump-state.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Common.h"

namespace vdcli {

using json = nlohmann::json;
namespace fs = std::filesystem;

namespace {

int create(Context& context, const std::string& path, bool replace) {
  auto node = catalogNode(context, path);
  int status = node->create(replace);
  if (status == vd::StatusExists)
    throw Failure{status, "the catalog exists already (--replace makes it anew)"};
  check(status, "the catalog could not be made");
  std::cout << "created " << path << "\n";
  return 0;
}

std::string flagsText(unsigned flags) {
  std::string text = (flags & 1) ? "unique " : "";
  if (flags & 2) return text + "ascending";
  if (flags & 4) return text + "descending";
  return flags == 0 ? "column only" : text + "index";
}

int info(Context& context, const std::string& path) {
  Catalog catalog(context, path, Catalog::kRead);
  vd::Node& node = catalog.node();
  json out;
  for (const std::string& file : catalogFiles(node)) {
    std::error_code error;
    auto size = fs::file_size(file, error);
    out["files"].push_back({{"path", file}, {"size", error ? json(nullptr) : json(size)}});
  }
  out["version"] = node.version().buffer();
  vd::String id;
  node.scalarLoad("vd_dbid", id);
  out["catalog_id"] = id.buffer();

  // Collection types: the tags of the shared table's records; own types: their tables.
  std::map<std::string, bool> types;  // name -> in the collection
  try {
    vd::Filter all;
    for (int record : node.assetIdLoad(all)) {
      vd::String tag;
      if (node.characterizeID(record, tag) == vd::ObjectAsset) types.emplace(tag.buffer(), true);
    }
    for (const vd::String& own : node.assetNames(false, true)) types[own.buffer()] = false;
  } catch (vd::Status s) {
    throw Failure{s, "the asset types could not be read"};
  }
  out["types"] = json::array();
  for (const auto& [name, inCollection] : types) {
    vd::Asset proto = node.asset(name.c_str(), inCollection);
    vd::Filter match;
    match.match(proto);
    json type{{"name", name},
              {"storage", inCollection ? "collection" : "own table"},
              {"records", node.assetCount(match)}};
    out["types"].push_back(type);
  }
  auto indexed = [&](const char* type, bool inCollection) {
    json list = json::array();
    for (const auto& [name, flags] : node.indexedElements(type, inCollection))
      list.push_back({{"element", name.buffer()}, {"flags", flags}, {"meaning", flagsText(flags)}});
    return list;
  };
  out["indexes"]["collection"] = indexed("file", true);
  for (const auto& [name, inCollection] : types)
    if (!inCollection) out["indexes"][name] = indexed(name.c_str(), false);
  out["registry"] = json::array();
  for (const vd::String& key : node.scalarNames()) out["registry"].push_back(key.buffer());

  if (context.json) {
    std::cout << out.dump(2) << "\n";
    return 0;
  }
  std::cout << "catalog  " << path << "  (format " << out["version"].get<std::string>() << ", id "
            << out["catalog_id"].get<std::string>() << ")\n";
  for (const auto& f : out["files"])
    std::cout << "  file   " << f["path"].get<std::string>() << "  "
              << (f["size"].is_null() ? std::string("missing")
                                      : std::to_string(f["size"].get<long long>()) + " bytes")
              << "\n";
  std::cout << "types\n";
  if (out["types"].empty()) std::cout << "  (none)\n";
  for (const auto& t : out["types"])
    std::cout << "  " << t["name"].get<std::string>() << "  " << t["storage"].get<std::string>()
              << ", " << t["records"].get<int>() << " records\n";
  std::cout << "indexed elements\n";
  bool any = false;
  for (const auto& [table, list] : out["indexes"].items()) {
    for (const auto& e : list) {
      any = true;
      std::cout << "  " << (table == "collection" ? "(collection types)" : table) << "."
                << e["element"].get<std::string>() << "  " << e["meaning"].get<std::string>()
                << " (flags " << e["flags"].get<unsigned>() << ")\n";
    }
  }
  if (!any) std::cout << "  (none)\n";
  std::cout << "registry keys\n";
  for (const auto& key : out["registry"]) std::cout << "  " << key.get<std::string>() << "\n";
  return 0;
}

struct ScalarOptions {
  std::string catalog, key, value;
  bool asInt = false, asTime = false, remove = false, hasValue = false;
};

int scalar(Context& context, const ScalarOptions& o) {
  bool writing = o.remove || o.hasValue;
  long long number = 0;
  if (o.asInt) {
    try {
      number = static_cast<int>(vd::String(o.value.c_str()));
    } catch (vd::Status s) {
      throw UsageError{"scalar: \"" + o.value + "\" is not a 32-bit number (" + vd::statusText(s) +
                       ")"};
    }
  }
  if (o.asTime && !parseTime(o.value, &number))
    throw UsageError{"scalar: \"" + o.value +
                     "\" is not a time (2008-03-05, 2008-03-05T14:07:09 or seconds)"};
  Catalog catalog(context, o.catalog, writing ? Catalog::kWrite : Catalog::kRead);
  vd::Node& node = catalog.node();
  if (o.remove) {
    check(node.scalarRemove(o.key.c_str()), "the key could not be removed");
    return 0;
  }
  if (o.hasValue) {
    int status = o.asInt    ? node.scalarStore(o.key.c_str(), static_cast<int>(number))
                 : o.asTime ? node.scalarStore(o.key.c_str(), vd::Time(number))
                            : node.scalarStore(o.key.c_str(), vd::String(o.value.c_str()));
    check(status, "the value could not be stored");
    return 0;
  }
  auto value = [&](const std::string& key) {
    vd::String text;
    int status = node.scalarLoad(key.c_str(), text);
    if (status == vd::StatusNotFound)
      throw Failure{status, "no key \"" + key + "\" in the registry"};
    check(status, "the registry could not be read");
    return std::string(text.buffer());
  };
  if (!o.key.empty()) {
    std::string v = value(o.key);
    if (context.json)
      std::cout << json{{o.key, v}}.dump(2) << "\n";
    else
      std::cout << v << "\n";
    return 0;
  }
  json all = json::object();
  std::vector<vd::String> keys;
  try {
    keys = node.scalarNames();
  } catch (vd::Status s) {
    throw Failure{s, "the registry could not be read"};
  }
  for (const vd::String& key : keys) {
    std::string v = value(key.buffer());
    if (context.json)
      all[key.buffer()] = v;
    else
      std::cout << key.buffer() << "\t" << v << "\n";
  }
  if (context.json) std::cout << all.dump(2) << "\n";
  return 0;
}

struct IndexOptions {
  std::string catalog, type, element;
  bool unique = false, asc = false, desc = false, noSqlIndex = false;
};

int index(Context& context, const IndexOptions& o, bool add) {
  Catalog catalog(context, o.catalog, Catalog::kWrite);
  bool inCollection = !catalog.ownTable(o.type);
  vd::Asset holder = catalog.node().asset(o.type.c_str(), inCollection);
  vd::Element& e = holder.element(o.element.c_str());
  if (!add) {
    int status;
    try {
      status = e.unindex();
    } catch (vd::Status s) {
      status = s;
    }
    if (status == vd::StatusExists) throw Failure{status, "\"" + o.element + "\" is not indexed"};
    check(status, "the index could not be removed");
    std::cout << "unindexed " << o.type << "." << o.element << "\n";
    return 0;
  }
  unsigned flags = o.noSqlIndex ? 0u : (o.unique ? 1u : 0u) | (o.desc ? 4u : 2u);
  int status = e.index(flags);
  if (status == vd::StatusExists)
    throw Failure{status, "\"" + o.element + "\" is indexed already with these flags"};
  check(status, status == vd::StatusEmptyArgument
                    ? "the element cannot be indexed (a name that cannot be a column, or a unique "
                      "index over repeated values)"
                    : "the index could not be made");
  std::cout << "indexed " << o.type << "." << o.element << " (" << flagsText(flags) << ")\n";
  return 0;
}

int dumpState(Context& context, const std::string& path) {
  Catalog catalog(context, path, Catalog::kRead);
  vd::Node& node = catalog.node();
  node.dumpState();
  std::string file = std::string(node.path().buffer()) + node.name().buffer() + ".vst";
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Failure{vd::StatusNotFound, "the state document " + file + " was not written"};
  std::cout << in.rdbuf();
  return 0;
}

}  // namespace

void addCatalogCommands(CLI::App& app, Context& context) {
  {
    auto path = std::make_shared<std::string>();
    auto replace = std::make_shared<bool>(false);
    CLI::App* sub = app.add_subcommand("create", "Make a new empty catalog");
    sub->add_option("CATALOG", *path, "the catalog's main file, e.g. photos.vd")->required();
    sub->add_flag("--replace", *replace, "replace an existing catalog");
    sub->callback([&context, path, replace] {
      context.operation = "create " + *path;
      context.run = [&context, path, replace] { return create(context, *path, *replace); };
    });
  }
  {
    auto path = std::make_shared<std::string>();
    CLI::App* sub = app.add_subcommand("info", "Files, format, types, indexes and registry keys");
    sub->add_option("CATALOG", *path, "the catalog's main file")->required();
    sub->add_flag("--json", context.json, "one JSON document");
    sub->callback([&context, path] {
      context.operation = "info " + *path;
      context.run = [&context, path] { return info(context, *path); };
    });
  }
  {
    auto o = std::make_shared<ScalarOptions>();
    CLI::App* sub = app.add_subcommand("scalar", "Read, store or remove registry values");
    sub->add_option("CATALOG", o->catalog, "the catalog's main file")->required();
    sub->add_option("KEY", o->key, "the key (none: every key with its value)");
    sub->add_option("VALUE", o->value, "store this value");
    auto i = sub->add_flag("--int", o->asInt, "store VALUE as a 32-bit integer");
    auto t = sub->add_flag("--time", o->asTime, "store VALUE as a time");
    auto r = sub->add_flag("--remove", o->remove, "remove KEY");
    i->excludes(t, r);
    t->excludes(r);
    sub->add_flag("--json", context.json, "one JSON document");
    sub->callback([&context, o, sub] {
      o->hasValue = sub->count("VALUE") > 0;
      if ((o->asInt || o->asTime) && !o->hasValue)
        throw CLI::ValidationError("--int and --time need KEY and VALUE");
      if (o->remove && (o->key.empty() || o->hasValue))
        throw CLI::ValidationError("--remove takes KEY alone");
      context.operation = "scalar " + (o->key.empty() ? o->catalog : o->key);
      context.run = [&context, o] { return scalar(context, *o); };
    });
  }
  for (bool add : {true, false}) {
    auto o = std::make_shared<IndexOptions>();
    CLI::App* sub = add ? app.add_subcommand("index", "Promote an element to an indexed column")
                        : app.add_subcommand("unindex", "Take an element's column out again");
    sub->add_option("CATALOG", o->catalog, "the catalog's main file")->required();
    sub->add_option("TYPE", o->type, "the asset type")->required();
    sub->add_option("ELEMENT", o->element, "the element")->required();
    if (add) {
      auto u = sub->add_flag("--unique", o->unique, "a unique index");
      auto a = sub->add_flag("--asc", o->asc, "ascending (the default)");
      auto d = sub->add_flag("--desc", o->desc, "descending");
      auto n = sub->add_flag("--no-sql-index", o->noSqlIndex, "the column without an SQL index");
      a->excludes(d);
      n->excludes(u, a, d);
    }
    sub->callback([&context, o, add] {
      context.operation = std::string(add ? "index " : "unindex ") + o->type + " " + o->element;
      context.run = [&context, o, add] { return index(context, *o, add); };
    });
  }
  {
    auto path = std::make_shared<std::string>();
    CLI::App* sub = app.add_subcommand("dump-state", "Print the node-state document");
    sub->add_option("CATALOG", *path, "the catalog's main file")->required();
    sub->callback([&context, path] {
      context.operation = "dump-state " + *path;
      context.run = [&context, path] { return dumpState(context, *path); };
    });
  }
}

}  // namespace vdcli
