// Commands over records: ls, find, show, get, set, unset and rm, with the filter language's
// tree turned into an Expression.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <climits>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "Common.h"
#include "FilterLanguage.h"
#include "MediaInfo.h"

namespace vdcli {

using json = nlohmann::json;

namespace {

// A query over records: of one type (a match prototype) or of every collection type, with
// the assets whose elements the expressions reference kept alive.
struct Query {
  Query(Catalog& catalog, const std::string& type) : node(catalog.node()) {
    inCollection = type.empty() || !catalog.ownTable(type);
    table = type.empty() ? "file" : type;
    if (!type.empty()) {
      vd::Asset proto = asset();
      filter.match(proto);
    }
  }
  // A new asset of the query's type: a holder of element references.
  vd::Asset asset() {
    try {
      keep.push_back(node.asset(table.c_str(), inCollection));
    } catch (vd::Status s) {
      throw Failure{s, "type \"" + table + "\" has no table"};
    }
    return keep.back();
  }
  // A reference to element `name`, typed so that comparisons read it as `type`.
  vd::Element& reference(const std::string& name, vd::Type type) {
    vd::Element& e = asset().element(name.c_str());
    switch (type) {
      case vd::TypeInt4:
      case vd::TypeInt8:
        e = 0LL;
        break;
      case vd::TypeTime:
        e = vd::Time(0LL);
        break;
      default:
        e = vd::String("");
        break;
    }
    return e;
  }

  vd::Expression build(const FilterNode& tree, bool negate) {
    switch (tree.kind) {
      case FilterNode::kAnd:
        return negate ? build(*tree.left, true) || build(*tree.right, true)
                      : build(*tree.left, false) && build(*tree.right, false);
      case FilterNode::kOr:
        return negate ? build(*tree.left, true) && build(*tree.right, true)
                      : build(*tree.left, false) || build(*tree.right, false);
      case FilterNode::kNot:
        return build(*tree.left, !negate);
      case FilterNode::kIdIn: {
        vd::Expression e = asset().in(tree.ids);
        return negate ? !e : e;
      }
      case FilterNode::kLike:
      case FilterNode::kGlob: {
        vd::Element& e = reference(tree.element, vd::TypeText);
        vd::String pattern(tree.value.text.c_str());
        vd::Expression x = tree.kind == FilterNode::kLike ? e.like(pattern) : e.glob(pattern);
        return negate ? !x : x;
      }
      case FilterNode::kCompare:
        break;
    }
    const Value& v = tree.value;
    vd::Type type = v.kind == Value::kText   ? vd::TypeText
                    : v.kind == Value::kDate ? vd::TypeTime
                                             : vd::TypeInt8;
    const std::string& f = tree.function;
    if (f == "lower") type = vd::TypeText;
    if (f == "year" || f == "month" || f == "day" || f == "weekday") type = vd::TypeTime;
    vd::Element& e = reference(tree.element, type);
    vd::Expression left = f == "year"      ? e.year()
                          : f == "month"   ? e.month()
                          : f == "day"     ? e.day()
                          : f == "weekday" ? e.dayOfWeek()
                          : f == "lower"   ? e.lower()
                                           : vd::Expression(e);
    vd::Expression right;
    if (v.kind == Value::kText)
      right = vd::Expression(vd::String(v.text.c_str()));
    else if (v.kind == Value::kDate)
      right = vd::Expression(vd::Time(v.year, v.month, v.day, v.hour, v.minute, v.second));
    else if (v.integer >= INT_MIN && v.integer <= INT_MAX)
      right = vd::Expression(static_cast<int>(v.integer));
    else
      right = vd::Expression(v.integer);
    std::string op = tree.op;
    if (negate) {
      op = op == "="    ? "!="
           : op == "!=" ? "="
           : op == "<"  ? ">="
           : op == ">=" ? "<"
           : op == ">"  ? "<="
                        : ">";
    }
    if (op == "=") return left == right;
    if (op == "!=") return left != right;
    if (op == "<") return left < right;
    if (op == "<=") return left <= right;
    if (op == ">") return left > right;
    return left >= right;
  }

  // The type of element `name` in the first record that has it (text when none does).
  vd::Type storedType(const std::string& name) {
    vd::Filter probe = filter.clone();
    probe &= vd::Expression(reference(name, vd::TypeText)) != vd::Expression(vd::String(""));
    probe.limit(1);
    for (int id : node.assetIdLoad(probe)) {
      vd::Asset a = inCollection ? node.assetLoad(id) : node.assetLoad(id, table.c_str());
      if (a.elementExists(name.c_str())) return a.element(name.c_str()).type();
    }
    return vd::TypeText;
  }

  void sort(const std::string& spec) {
    std::string name = spec;
    vd::SortOrder order = vd::SortAscending;
    size_t colon = spec.rfind(':');
    if (colon != std::string::npos) {
      std::string how = spec.substr(colon + 1);
      name = spec.substr(0, colon);
      if (how == "desc")
        order = vd::SortDescending;
      else if (how != "asc")
        throw UsageError{"--sort takes ELEMENT, ELEMENT:asc or ELEMENT:desc"};
    }
    if (name.empty()) throw UsageError{"--sort needs an element name"};
    filter.orderBy(vd::Expression(reference(name, storedType(name))), order);
  }

  vd::Node& node;
  std::string table;
  bool inCollection = true;
  vd::Filter filter;
  std::vector<vd::Asset> keep;
};

struct ListOptions {
  std::string catalog, type, sort, expression;
  int limit = -1, offset = -1;
  bool count = false;
};

int list(Context& context, const ListOptions& o, bool find) {
  Catalog catalog(context, o.catalog, Catalog::kRead);
  Query query(catalog, o.type);
  if (find) {
    std::unique_ptr<FilterNode> tree;
    try {
      tree = parseFilter(o.expression);
    } catch (const FilterSyntaxError& e) {
      throw UsageError{std::string("find: ") + e.what()};
    }
    try {
      query.filter &= query.build(*tree, false);
    } catch (vd::Status s) {
      throw Failure{
          s, "the expression cannot be built (\"not\" of a condition without a negated form?)"};
    }
  }
  if (!o.sort.empty()) query.sort(o.sort);
  if (o.count) {
    int n = catalog.node().assetCount(query.filter);
    if (n < 0) throw Failure{vd::StatusEngineFailure, "the records could not be counted"};
    if (context.json)
      std::cout << json{{"count", n}}.dump(2) << "\n";
    else
      std::cout << n << "\n";
    return 0;
  }
  if (o.offset >= 0) query.filter.offset(o.offset);
  if (o.limit >= 0 || o.offset >= 0) query.filter.limit(o.limit >= 0 ? o.limit : INT_MAX);
  std::vector<int> ids;
  try {
    ids = catalog.node().assetIdLoad(query.filter);
  } catch (vd::Status s) {
    throw Failure{s, "the records could not be selected"};
  }
  // Without --sort, ids come in id order (the engine's scan gives that order to a limit).
  if (o.sort.empty()) std::sort(ids.begin(), ids.end());
  json out = json::array();
  for (int id : ids) {
    vd::Asset a = query.inCollection ? catalog.node().assetLoad(id)
                                     : catalog.node().assetLoad(id, query.table.c_str());
    std::string type = a.name().buffer(), label = recordLabel(a);
    if (context.json)
      out.push_back({{"id", id}, {"type", type}, {"name", label}});
    else
      std::cout << id << "\t" << type << "\t" << label << "\n";
  }
  if (context.json) std::cout << out.dump(2) << "\n";
  return 0;
}

// One element as JSON: its type, value (numbers as numbers, times as ISO text plus the
// seconds, blobs as location, MIME type and length without the bytes) and attributes.
json elementJson(vd::Element& e) {
  json j{{"type", typeText(e.type())}};
  std::string text = vd::String(e).buffer();
  switch (e.type()) {
    case vd::TypeInt4:
    case vd::TypeInt8:
      try {
        j["value"] = static_cast<long long>(e);
      } catch (vd::Status) {
        j["value"] = text;
      }
      break;
    case vd::TypeTime:
      try {
        long long seconds = static_cast<long long>(e);
        j["value"] = isoTime(seconds);
        j["seconds"] = seconds;
      } catch (vd::Status) {
        j["value"] = text;
      }
      break;
    case vd::TypeBlob: {
      vd::Blob b(e);
      j["location"] = locationText(b.location());
      j["mime"] = b.mime().buffer();
      unsigned long long n = b.length();
      j["length"] = n == ~0ULL ? json(nullptr) : json(n);
      if (!b.url().isEmpty()) j["url"] = b.url().buffer();
      break;
    }
    default:
      j["value"] = text;
  }
  if (e.nAttributes() > 0) j["attributes"] = e.nAttributes();
  return j;
}

std::string elementText(const json& j) {
  std::string type = j["type"];
  if (type == "blob") {
    std::string text =
        std::string(j["location"]) + ", " + std::string(j["mime"]) + ", " +
        (j["length"].is_null() ? std::string("length unknown")
                               : std::to_string(j["length"].get<unsigned long long>()) + " bytes");
    if (j.contains("url")) text += ", " + std::string(j["url"]);
    return text;
  }
  if (type == "time" && j.contains("seconds"))
    return std::string(j["value"]) + " (" + std::to_string(j["seconds"].get<long long>()) + ")";
  return j["value"].is_string() ? j["value"].get<std::string>() : j["value"].dump();
}

int show(Context& context, const std::string& path, const std::vector<int>& ids) {
  Catalog catalog(context, path, Catalog::kRead);
  json out = json::array();
  for (int id : ids) {
    context.operation = "show " + std::to_string(id);
    vd::Asset a = catalog.load(id);
    json record{{"id", id}, {"type", a.name().buffer()}, {"elements", json::object()}};
    a.nElements();
    for (const auto& entry : *a.elems())
      record["elements"][entry.first.buffer()] = elementJson(*entry.second);
    if (context.json) {
      out.push_back(record);
      continue;
    }
    std::cout << "record " << id << " (" << record["type"].get<std::string>() << ")\n";
    for (const auto& [name, e] : record["elements"].items()) {
      std::string line = "  " + name;
      line.resize(std::max<size_t>(line.size() + 1, 16), ' ');
      std::string type = e["type"];
      type.resize(7, ' ');
      std::cout << line << type << elementText(e);
      if (e.contains("attributes"))
        std::cout << "  [" << e["attributes"].get<int>() << " attributes]";
      std::cout << "\n";
    }
  }
  if (context.json) std::cout << (ids.size() == 1 ? out[0] : out).dump(2) << "\n";
  return 0;
}

vd::Element& existing(vd::Asset& a, int id, const std::string& name) {
  if (!a.elementExists(name.c_str()))
    throw Failure{vd::StatusNotFound,
                  "record " + std::to_string(id) + " has no element \"" + name + "\""};
  return a.element(name.c_str());
}

int get(Context& context, const std::string& path, int id, const std::string& name,
        const std::string& output) {
  Catalog catalog(context, path, Catalog::kRead);
  vd::Asset a = catalog.load(id);
  vd::Element& e = existing(a, id, name);
  std::string bytes;
  bool binary = e.type() == vd::TypeBlob;
  if (binary) {
    vd::Blob b(e);
    unsigned long long n = b.length();
    unsigned char* p = n == 0 ? nullptr : b.buffer(0);
    if (n != 0 && p == nullptr) {
      std::string where = b.location() == vd::Blob::LocationFile
                              ? "its file " + std::string(b.url().buffer()) + " cannot be read"
                              : "its bytes cannot be read from the catalog";
      throw Failure{vd::StatusBlobFailed, "the blob of \"" + name + "\": " + where};
    }
    n = b.length();
    bytes.assign(reinterpret_cast<const char*>(p), p == nullptr ? 0 : n);
  } else {
    bytes = std::string(vd::String(e).buffer()) + "\n";
  }
  if (output.empty() || output == "-") {
    if (binary && output.empty() && isatty(STDOUT_FILENO))
      throw UsageError{
          "get: refusing to write binary bytes to a terminal (use -o FILE, or -o - to insist)"};
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
    return 0;
  }
  std::ofstream file(output, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + output);
  return 0;
}

struct SetOptions {
  std::string catalog, element, value, file;
  int id = 0;
  bool asInt = false, asInt8 = false, asTime = false;
};

int set(Context& context, const SetOptions& o) {
  // The value is checked before the catalog is touched.
  vd::Blob blob;
  long long number = 0;
  if (o.asInt || o.asInt8) {
    try {
      number = o.asInt ? static_cast<int>(vd::String(o.value.c_str()))
                       : static_cast<long long>(vd::String(o.value.c_str()));
    } catch (vd::Status s) {
      throw UsageError{"set: \"" + o.value + "\" is not " +
                       (o.asInt ? "a 32-bit number" : "a 64-bit number") + " (" +
                       vd::statusText(s) + ")"};
    }
  } else if (o.asTime) {
    if (!parseTime(o.value, &number))
      throw UsageError{"set: \"" + o.value +
                       "\" is not a time (2008-03-05, 2008-03-05T14:07:09 or seconds)"};
  } else if (!o.file.empty()) {
    std::ifstream in(o.file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) throw UsageError{"set: cannot read " + o.file};
    if (!in.is_open()) throw UsageError{"set: cannot read " + o.file};
    auto* p = reinterpret_cast<unsigned char*>(bytes.data());
    check(blob.set(p, bytes.size(), vd::Blob::LocationCatalog), "the blob could not be made");
    blob.mime(vd::String(mimeType(p, bytes.size()).c_str()));
  }
  Catalog catalog(context, o.catalog, Catalog::kWrite);
  vd::Asset a = catalog.load(o.id);
  vd::Element& e = a.element(o.element.c_str());
  if (o.asInt)
    e = static_cast<int>(number);
  else if (o.asInt8)
    e = number;
  else if (o.asTime)
    e = vd::Time(number);
  else if (!o.file.empty())
    e = blob;
  else
    e = vd::String(o.value.c_str());
  check(a.update(), "record " + std::to_string(o.id) + " could not be written");
  std::cout << "record " << o.id << ": " << o.element << " set\n";
  return 0;
}

int unset(Context& context, const std::string& path, int id, const std::string& name) {
  Catalog catalog(context, path, Catalog::kWrite);
  vd::Asset a = catalog.load(id);
  existing(a, id, name);
  a.erase(name.c_str());
  check(a.update(), "record " + std::to_string(id) + " could not be written");
  std::cout << "record " << id << ": " << name << " removed\n";
  return 0;
}

int remove(Context& context, const std::string& path, const std::vector<int>& ids) {
  Catalog catalog(context, path, Catalog::kWrite);
  vd::Node& node = catalog.node();
  check(node.transactionBegin(), "the transaction could not begin");
  try {
    for (int id : ids) {
      vd::Asset a = catalog.load(id);
      check(a.remove(), "record " + std::to_string(id) + " could not be removed");
    }
  } catch (...) {
    node.transactionRollback();  // the outermost level: nothing of the removal stays
    throw;
  }
  check(node.transactionCommit(), "the removal could not be committed; nothing was removed");
  std::cout << "removed " << ids.size() << (ids.size() == 1 ? " record\n" : " records\n");
  return 0;
}

}  // namespace

void addRecordCommands(CLI::App& app, Context& context) {
  auto addList = [&](const char* name, const char* help, bool find) {
    auto o = std::make_shared<ListOptions>();
    CLI::App* sub = app.add_subcommand(name, help);
    sub->add_option("CATALOG", o->catalog, "the catalog's main file")->required();
    if (find)
      sub->add_option("EXPR", o->expression,
                      "a condition, e.g. \"year(taken) = 2008 and camera ~ '%Acme%'\"")
          ->required();
    sub->add_option("--type", o->type, "records of this type only");
    sub->add_option("--limit", o->limit, "at most N records")->check(CLI::Range(0, INT_MAX));
    if (!find)
      sub->add_option("--offset", o->offset, "skip N records")->check(CLI::Range(0, INT_MAX));
    sub->add_option("--sort", o->sort, "order by ELEMENT, or ELEMENT:desc");
    if (find) sub->add_flag("--count", o->count, "print the number of matching records only");
    sub->add_flag("--json", context.json, "one JSON document");
    sub->callback([&context, o, find, name] {
      context.operation = std::string(name) + " " + o->catalog;
      context.run = [&context, o, find] { return list(context, *o, find); };
    });
  };
  addList("ls", "List records (id, type, name) in id order", false);
  addList("find", "List the records a condition selects", true);

  {
    auto path = std::make_shared<std::string>();
    auto ids = std::make_shared<std::vector<int>>();
    CLI::App* sub =
        app.add_subcommand("show", "Show records: every element with its type and value");
    sub->add_option("CATALOG", *path, "the catalog's main file")->required();
    sub->add_option("ID", *ids, "record ids")->required();
    sub->add_flag("--json", context.json, "one JSON document");
    sub->callback([&context, path, ids] {
      context.operation = "show";
      context.run = [&context, path, ids] { return show(context, *path, *ids); };
    });
  }
  {
    struct GetOptions {
      std::string catalog, element, output;
      int id = 0;
    };
    auto o = std::make_shared<GetOptions>();
    CLI::App* sub = app.add_subcommand("get", "Write a blob's bytes, or a value's text, out");
    sub->add_option("CATALOG", o->catalog, "the catalog's main file")->required();
    sub->add_option("ID", o->id, "record id")->required();
    sub->add_option("ELEMENT", o->element, "element name")->required();
    sub->add_option("-o,--output", o->output, "write to FILE (\"-\": standard output)");
    sub->callback([&context, o] {
      context.operation = "get " + std::to_string(o->id) + " " + o->element;
      context.run = [&context, o] {
        return get(context, o->catalog, o->id, o->element, o->output);
      };
    });
  }
  {
    auto o = std::make_shared<SetOptions>();
    CLI::App* sub = app.add_subcommand("set", "Set an element of a record");
    sub->add_option("CATALOG", o->catalog, "the catalog's main file")->required();
    sub->add_option("ID", o->id, "record id")->required();
    sub->add_option("ELEMENT", o->element, "element name")->required();
    sub->add_option("VALUE", o->value, "the value (text unless an option says otherwise)");
    auto i4 = sub->add_flag("--int", o->asInt, "a 32-bit integer");
    auto i8 = sub->add_flag("--int8", o->asInt8, "a 64-bit integer");
    auto t = sub->add_flag("--time", o->asTime, "a time: 2008-03-05[T14:07:09] (local) or seconds");
    auto f = sub->add_option("--file", o->file, "a blob holding the bytes of PATH");
    i4->excludes(i8, t, f);
    i8->excludes(t, f);
    t->excludes(f);
    sub->callback([&context, o, sub] {
      if (o->file.empty() && sub->count("VALUE") == 0) throw CLI::RequiredError("VALUE");
      context.operation = "set " + std::to_string(o->id) + " " + o->element;
      context.run = [&context, o] { return set(context, *o); };
    });
  }
  {
    struct UnsetOptions {
      std::string catalog, element;
      int id = 0;
    };
    auto o = std::make_shared<UnsetOptions>();
    CLI::App* sub = app.add_subcommand("unset", "Remove an element from a record");
    sub->add_option("CATALOG", o->catalog, "the catalog's main file")->required();
    sub->add_option("ID", o->id, "record id")->required();
    sub->add_option("ELEMENT", o->element, "element name")->required();
    sub->callback([&context, o] {
      context.operation = "unset " + std::to_string(o->id) + " " + o->element;
      context.run = [&context, o] { return unset(context, o->catalog, o->id, o->element); };
    });
  }
  {
    auto path = std::make_shared<std::string>();
    auto ids = std::make_shared<std::vector<int>>();
    CLI::App* sub = app.add_subcommand("rm", "Remove records (all or none)");
    sub->add_option("CATALOG", *path, "the catalog's main file")->required();
    sub->add_option("ID", *ids, "record ids")->required();
    sub->callback([&context, path, ids] {
      context.operation = "rm";
      context.run = [&context, path, ids] { return remove(context, *path, *ids); };
    });
  }
}

}  // namespace vdcli
