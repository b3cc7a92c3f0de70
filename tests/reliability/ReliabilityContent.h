// Records whose whole content follows from two numbers, the revision (the transaction that
// last wrote the record) and a slot (its place in that transaction), so that a checker can
// tell a record that is intact from one that is torn, stale or mixed with another's blob.
// Shared by the crash and stress helpers and the tests that check their catalogs.
#ifndef VENDRITHANE_TESTS_RELIABILITY_RELIABILITYCONTENT_H
#define VENDRITHANE_TESTS_RELIABILITY_RELIABILITYCONTENT_H

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "vendrithane/Asset.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Element.h"
#include "vendrithane/Status.h"

namespace vdrel {

using KESTRIN::Vendrithane::Asset;
using KESTRIN::Vendrithane::Blob;
using KESTRIN::Vendrithane::String;

constexpr char kRecordType[] = "crashrec";      // collection type of the records
constexpr char kLastTag[] = "crash.last";       // registry value written with every transaction
constexpr char kCounterTag[] = "stress.count";  // registry counter of the stress workers

inline uint32_t mix(uint32_t a, uint32_t b) {
  uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  return h ^ (h >> 16);
}

// Size of the blob of (rev, slot): none for a quarter of the records, now and then one that
// spans many pages, otherwise up to 5000 bytes.
inline size_t blobSize(int rev, int slot) {
  uint32_t h = mix(static_cast<uint32_t>(rev), static_cast<uint32_t>(slot));
  if (h % 4 == 0) return 0;
  if (h % 9 == 0) return 40000 + h % 30000;
  return 1 + h % 5000;
}

inline std::string blobBytes(int rev, int slot) {
  std::string bytes(blobSize(rev, slot), '\0');
  uint32_t state = mix(static_cast<uint32_t>(slot), static_cast<uint32_t>(rev)) | 1;
  for (char& c : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state & 0xff);
  }
  return bytes;
}

inline std::string titleOf(int rev, int slot) {
  return "record rev " + std::to_string(rev) + " slot " + std::to_string(slot) + " <&'\">";
}

// Gives `asset` the content of (rev, slot); a record without a blob loses its blob element.
inline void writeContent(Asset& asset, int rev, int slot) {
  asset.element("rev") = rev;
  asset.element("slot") = slot;
  asset.element("title") = titleOf(rev, slot).c_str();
  std::string bytes = blobBytes(rev, slot);
  if (bytes.empty()) {
    asset.erase("data");
    return;
  }
  Blob blob;
  blob.set(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size(), Blob::LocationCatalog);
  asset.element("data") = blob;
}

// Reads (rev, slot) back from a stored record and checks that the rest of its content is the
// content of that pair; "" when it is, else what is wrong.
inline std::string readContent(Asset& asset, int* rev, int* slot) {
  try {
    *rev = asset.element("rev");
    *slot = asset.element("slot");
    String title = asset.element("title");
    if (std::string(title.buffer(), title.length()) != titleOf(*rev, *slot)) return "title torn";
    std::string want = blobBytes(*rev, *slot);
    if (want.empty()) return asset.elementExists("data") ? "blob left behind" : "";
    if (!asset.elementExists("data")) return "blob missing";
    Blob blob(asset.element("data"));
    if (blob.length() != want.size()) return "blob length " + std::to_string(blob.length());
    const unsigned char* p = blob.buffer(0);
    if (p == nullptr) return "blob unreadable";
    if (std::string(reinterpret_cast<const char*>(p), want.size()) != want) return "blob bytes";
    return "";
  } catch (KESTRIN::Vendrithane::Status s) {
    return "status " + std::to_string(static_cast<int>(s));
  }
}

// The records of a catalog as the crash test knows them: id -> (rev, slot), and the registry
// value written by the last transaction.
struct CatalogModel {
  std::map<int, std::pair<int, int>> records;
  std::string last;

  bool operator==(const CatalogModel& o) const { return records == o.records && last == o.last; }
  // A short description of how this model differs from `o`, for failure messages.
  std::string differences(const CatalogModel& o) const {
    std::ostringstream out;
    int shown = 0;
    for (const auto& r : records) {
      auto f = o.records.find(r.first);
      if (f == o.records.end()) {
        if (shown++ < 8) out << " id " << r.first << " only here;";
      } else if (f->second != r.second && shown++ < 8) {
        out << " id " << r.first << " rev " << r.second.first << "/" << f->second.first << ";";
      }
    }
    for (const auto& r : o.records)
      if (!records.count(r.first) && shown++ < 8) out << " id " << r.first << " only there;";
    if (last != o.last) out << " last '" << last << "'/'" << o.last << "'";
    return out.str();
  }
};

// The transaction a crash helper announces before it ends it: stores, updates and removes,
// and the registry value. The line reads "TAG K s:ID:SLOT u:ID:SLOT r:ID c:VALUE ...".
struct PendingTxn {
  int txn = -1;
  bool commits = true;  // false: the helper ends it with a rollback
  std::vector<std::string> ops;

  std::string line(const std::string& tag) const {
    std::string text = tag + " " + std::to_string(txn);
    for (const auto& op : ops) text += " " + op;
    return text;
  }
  static PendingTxn parse(const std::string& line, std::string* tag) {
    PendingTxn p;
    std::istringstream in(line);
    in >> *tag >> p.txn;
    for (std::string op; in >> op;) p.ops.push_back(op);
    return p;
  }
  // `model` after this transaction.
  CatalogModel applied(CatalogModel model) const {
    for (const auto& op : ops) {
      char kind = op[0];
      std::string rest = op.substr(2);
      if (kind == 'c') {
        model.last = rest;
        continue;
      }
      int id = std::stoi(rest);
      if (kind == 'r') {
        model.records.erase(id);
      } else {
        int slot = std::stoi(rest.substr(rest.find(':') + 1));
        model.records[id] = {txn, slot};
      }
    }
    return model;
  }
};

}  // namespace vdrel

#endif  // VENDRITHANE_TESTS_RELIABILITY_RELIABILITYCONTENT_H
