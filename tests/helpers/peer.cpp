// A peer process for the multi-process tests: reads one command per line on its input and
// answers with one line on its output. The first argument is the object-name prefix of the
// test that started it.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "PeerLoop.h"
#include "monitor/EventQueue.h"
#include "platform/LivenessFile.h"
#include "platform/MachineCounter.h"
#include "platform/NamedEvent.h"
#include "platform/NamedMutex.h"
#include "platform/ObjectNames.h"
#include "platform/ThreadAnnotations.h"

using namespace KESTRIN::Vendrithane;

namespace {

std::map<std::string, std::unique_ptr<platform::NamedMutex>> gMutexes;  // by name
std::map<std::string, std::unique_ptr<platform::NamedEvent>> gEvents;   // by name
std::map<std::string, std::unique_ptr<platform::LivenessFile>> gLive;   // by name
std::map<std::string, std::unique_ptr<monitor::EventQueue>> gQueues;    // by node label
sqlite3* gDb = nullptr;                                                 // sql-begin's connection

using vdpeer::reply;

platform::NamedMutex& mutexNamed(const std::string& name) {
  auto& m = gMutexes[name];
  if (!m) m = std::make_unique<platform::NamedMutex>(name);
  return *m;
}

platform::NamedEvent& eventNamed(const std::string& name) {
  auto& e = gEvents[name];
  if (!e) e = std::make_unique<platform::NamedEvent>(name);
  return *e;
}

monitor::EventQueue& queueNamed(const std::string& label) {
  auto& q = gQueues[label];
  if (!q) q = std::make_unique<monitor::EventQueue>();
  return *q;
}

// Runs one command; false ends the program.
// Commands take and release mutexes one call at a time, which the analysis cannot follow.
bool run(const std::string& line) NO_THREAD_SAFETY_ANALYSIS {
  std::istringstream in(line);
  std::string cmd, a, b;
  in >> cmd >> a >> b;
  if (cmd == "exit") return false;
  if (cmd == "echo") {
    reply(a);
  } else if (cmd == "mutex-lock") {  // NAME
    reply(mutexNamed(a).lock() ? "abandoned" : "locked");
  } else if (cmd == "mutex-unlock") {
    mutexNamed(a).unlock();
    reply("unlocked");
  } else if (cmd == "event-wait") {  // NAME TIMEOUT_MS
    auto& e = eventNamed(a);
    uint32_t seen = e.snapshot();
    reply("waiting");
    reply(e.wait(seen, std::stoi(b)) ? "pulsed" : "timeout");
  } else if (cmd == "event-pulse") {
    eventNamed(a).pulse();
    reply("pulsed");
  } else if (cmd == "live-hold") {  // NAME
    auto& l = gLive[a];
    if (!l) l = std::make_unique<platform::LivenessFile>();
    l->hold(a);
    reply("held");
  } else if (cmd == "counter") {  // NAME COUNT: draws COUNT values, prints them on one line
    platform::MachineCounter counter(a);
    std::string values;
    for (int i = std::stoi(b); i > 0; --i) values += std::to_string(counter.next()) + " ";
    reply(values);
  } else if (cmd == "sql-begin") {  // PATH: BEGIN IMMEDIATE without waiting
    if (gDb) sqlite3_close(gDb);
    sqlite3_open(a.c_str(), &gDb);
    int rc = sqlite3_exec(gDb, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr);
    sqlite3_exec(gDb, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(gDb);  // released before the answer, so the test never races it
    gDb = nullptr;
    reply(rc == SQLITE_OK ? "ok" : rc == SQLITE_BUSY ? "busy" : "rc " + std::to_string(rc));
  } else if (cmd == "attach") {  // NODE PATH
    queueNamed(a).attach(b);
    reply("ok");
  } else if (cmd == "detach") {  // NODE
    reply(std::to_string(queueNamed(a).detach(false)));
  } else if (cmd == "post") {  // NODE KIND ID
    std::string id;
    in >> id;
    queueNamed(a).post(std::stoi(b), std::stoi(id));
    reply("ok");
  } else if (cmd == "read") {  // NODE: "KIND ID", or "8" when nothing is pending
    int id = 0;
    int kind = queueNamed(a).readNext(&id);
    reply(kind == monitor::kEventNone ? "8" : std::to_string(kind) + " " + std::to_string(id));
  } else if (cmd == "lock") {  // NODE: the per-catalog mutex
    reply(queueNamed(a).lock() ? "abandoned" : "locked");
  } else if (cmd == "unlock") {
    queueNamed(a).unlock();
    reply("unlocked");
  } else if (cmd == "ids") {  // NODE NEXT MAX: sets the id block (under the catalog mutex)
    std::string max;
    in >> max;
    auto& q = queueNamed(a);
    q.lock();
    q.nextId(std::stoi(b));
    q.maxId(std::stoi(max));
    q.unlock();
    reply("ok");
  } else if (cmd == "poster") {
    reply(std::to_string(queueNamed(a).poster()));
  } else {
    reply("unknown " + cmd);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  return vdpeer::commandMain(argc, argv, run, [] { gQueues.clear(); });
}
