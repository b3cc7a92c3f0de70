// The public Node handle: handle counting, and every method passed on to the NodeImpl
// with thrown Status values turned into results.
#include "vendrithane/Node.h"

#include <cstdlib>

#include "node/NodeImpl.h"
#include "node/StatusOf.h"

namespace KESTRIN {
namespace Vendrithane {

using node::statusOf;

// The constructor, which registers the layers above the node on the new NodeImpl, is in
// services/NodeLayers.cpp.

Node::Node(const Node& other) : m_impl(other.m_impl) {
  m_impl->addHandle();
}

Node& Node::operator=(const Node& other) {
  if (m_impl != other.m_impl) throw StatusWrongCatalog;
  return *this;
}

Node::~Node() {
  if (m_impl->dropHandle()) delete m_impl;
}

int Node::open(bool checkOnly, bool readOnlyCopy, const char* tempDir) {
  return statusOf([&] { return m_impl->open(checkOnly, readOnlyCopy, tempDir); });
}

int Node::create(bool replace) {
  return statusOf([&] { return m_impl->create(replace); });
}

int Node::close() {
  return statusOf([&] { return m_impl->close(); });
}

int Node::exists() {
  try {
    return m_impl->exists();
  } catch (Status) {
    return -1;
  }
}

int Node::remove() {
  return statusOf([&] { return m_impl->remove(); });
}

int Node::mode(bool readOnly) {
  return statusOf([&] { return m_impl->mode(readOnly); });
}

String Node::path(bool blob) const {
  return m_impl->path(blob);
}

void Node::path(const char* mainDir, const char* blobDir) {
  m_impl->path(mainDir, blobDir);
}

String Node::name() const {
  return m_impl->name();
}

void Node::name(String name) {
  m_impl->name(name);
}

std::vector<String> Node::systemFilenames(bool withPath) const {
  return m_impl->systemFilenames(withPath);
}

String Node::backupPath() {
  return m_impl->backupDirectory();
}

void Node::backupPath(String p) {
  m_impl->backupDirectory(p);
}

String Node::backupName() {
  return m_impl->backupName();
}

void Node::backupName(String n) {
  m_impl->backupName(n);
}

bool Node::backupExists() {
  try {
    return m_impl->backupExists();
  } catch (Status) {
    return false;
  }
}

int Node::backupMode(bool readOnly) {
  return statusOf([&] { return m_impl->backupMode(readOnly); });
}

int Node::backup(bool keepExisting, bool verifyFirst, bool asCatalog) {
  return statusOf([&] { return m_impl->backup(keepExisting, verifyFirst, asCatalog); });
}

int Node::backupRestore(bool keepExisting, bool verifyFirst) {
  return statusOf([&] { return m_impl->backupRestore(keepExisting, verifyFirst); });
}

long long Node::size() {
  try {
    return m_impl->size();
  } catch (Status) {
    return -1;
  }
}

double Node::fragmentation() {
  try {
    return m_impl->fragmentation();
  } catch (Status) {
    return 0.0;
  }
}

int Node::optimize() {
  return statusOf([&] { return m_impl->optimize(); });
}

String Node::version() {
  try {
    return m_impl->version();
  } catch (Status) {
    return String();
  }
}

int Node::configure(Option option, int value) {
  return statusOf([&] { return m_impl->configure(option, value); });
}

int Node::configure(Option option) {
  return statusOf([&] { return m_impl->configure(option); });
}

int Node::transactionBegin() {
  return statusOf([&] { return m_impl->transactionBegin(false); });
}

int Node::transactionBeginNoBlock() {
  return statusOf([&] { return m_impl->transactionBegin(true); });
}

int Node::transactionCommit() {
  return statusOf([&] { return m_impl->transactionCommit(); });
}

int Node::transactionRollback() {
  return statusOf([&] { return m_impl->transactionRollback(); });
}

int Node::transactionState() {
  return statusOf([&] { return m_impl->transactionState(); });
}

int Node::scalarStore(String tag, String value) {
  return statusOf([&] { return m_impl->scalarStore(tag, value); });
}

int Node::scalarStore(String tag, int value) {
  return statusOf([&] { return m_impl->scalarStore(tag, String(std::to_string(value).c_str())); });
}

int Node::scalarStore(String tag, Time value) {
  return statusOf([&] {
    return m_impl->scalarStore(tag, String(std::to_string(static_cast<long long>(value)).c_str()));
  });
}

int Node::scalarLoad(String tag, String& value) {
  return statusOf([&] { return m_impl->scalarLoad(tag, &value); });
}

int Node::scalarLoad(String tag, int& value) {
  return statusOf([&] {
    String text;
    Status status = m_impl->scalarLoad(tag, &text);
    if (status == StatusOk) value = static_cast<int>(std::strtol(text.buffer(), nullptr, 10));
    return status;
  });
}

int Node::scalarLoad(String tag, Time& value) {
  return statusOf([&] {
    String text;
    Status status = m_impl->scalarLoad(tag, &text);
    if (status == StatusOk) value = Time(std::strtoll(text.buffer(), nullptr, 10));
    return status;
  });
}

int Node::scalarRemove(String tag) {
  return statusOf([&] { return m_impl->scalarRemove(tag); });
}

std::vector<String> Node::scalarNames() {
  return m_impl->scalarNames();
}

ObjectType Node::characterizeID(int id, String& name) {
  return static_cast<ObjectType>(m_impl->characterizeID(id, &name));
}

void Node::dumpState() {
  try {
    m_impl->dumpState();
  } catch (...) {
    // a diagnostic never fails visibly
  }
}

void Node::debugState() {
  try {
    m_impl->debugState();
  } catch (...) {
  }
}

}  // namespace Vendrithane
}  // namespace KESTRIN
