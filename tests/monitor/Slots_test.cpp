// The four catalog slots of the machine: sharing by every spelling of a file, refusal of a
// fifth catalog, take-over after processes die, and removal of a catalog's objects.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "monitor/EventQueue.h"
#include "monitor/MonitorFixture.h"

using namespace KESTRIN::Vendrithane;
using monitor::EventQueue;

namespace {

using SlotTest = MonitorTest;

TEST_F(SlotTest, FifthCatalogIsRefusedAndLeavesNothingHeld) {
  std::vector<std::unique_ptr<EventQueue>> queues;
  for (const char* name : {"a.vd", "b.vd", "c.vd", "d.vd"}) {
    queues.push_back(std::make_unique<EventQueue>());
    queues.back()->attach(catalog(name));
  }
  EventQueue fifth;
  std::string e = catalog("e.vd");
  EXPECT_EQ(vdtest::statusOf([&] { fifth.attach(e); }), StatusNoFreeSlot);
  EXPECT_EQ(fifth.localCount(), 0);
  EXPECT_FALSE(fifth.attached());
  EXPECT_EQ(catalogObjects(monitor::catalogKey(monitor::normalisedPath(e))), 0);

  // Neither mutex stayed held: another process gets through attach at once.
  vdtest::PeerProcess peer("peer", {prefix_});
  EXPECT_EQ(peer.call("attach n " + e, 3000), "status 12");
  EXPECT_EQ(peer.call("attach m " + dir_ + "a.vd", 3000), "ok");

  queues[1]->detach(false);
  fifth.attach(e);
  EXPECT_EQ(fifth.localCount(), 1);
  EXPECT_EQ(usedSlots(), 4);
}

TEST_F(SlotTest, SpellingsOfOneFileShareASlotLetterCaseDoesNot) {
  ASSERT_EQ(mkdir((dir_ + "sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink((dir_ + "sub").c_str(), (dir_ + "link").c_str()), 0);
  std::string upper = catalog("sub/Cat.vd");
  std::string lower = catalog("sub/cat.vd");

  EventQueue plain, dotted, backslashed, relative, otherCase;
  plain.attach(upper);
  dotted.attach(dir_ + "link/../sub/./Cat.vd");
  backslashed.attach(dir_ + "link\\Cat.vd");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  relative.attach("sub/Cat.vd");
  ASSERT_EQ(chdir(cwd), 0);
  for (EventQueue* q : {&dotted, &backslashed, &relative}) {
    EXPECT_EQ(q->key(), plain.key());
    EXPECT_EQ(q->normalised(), plain.normalised());
  }
  EXPECT_EQ(usedSlots(), 1);
  EXPECT_EQ(section()->slots[3].attachCount, 4);
  EXPECT_EQ(catalogObjects(plain.key()), 3);  // one mutex, one event, one liveness file

  otherCase.attach(lower);
  EXPECT_NE(otherCase.key(), plain.key());
  EXPECT_EQ(usedSlots(), 2);

  // Another process using yet another spelling meets the same ring.
  vdtest::PeerProcess peer("peer", {prefix_});
  ASSERT_EQ(peer.call("attach n " + dir_ + "link\\..\\sub\\Cat.vd"), "ok");
  ASSERT_EQ(peer.call("post n 3 11"), "ok");
  int id = 0;
  EXPECT_EQ(relative.readNext(&id), monitor::kEventCategoryUpdated);
  EXPECT_EQ(id, 11);
  EXPECT_EQ(otherCase.readNext(&id), monitor::kEventNone);
  EXPECT_EQ(peer.call("detach n"), "0");

  // The last detach of a catalog removes its objects from the object directory.
  std::string k = plain.key();
  for (EventQueue* q : {&plain, &dotted, &backslashed}) q->detach(false);
  EXPECT_EQ(catalogObjects(k), 3);
  relative.detach(false);
  EXPECT_EQ(catalogObjects(k), 0);
  EXPECT_EQ(usedSlots(), 1);
}

TEST_F(SlotTest, LongPathsThatShareTheirStartGetSeparateSlots) {
  std::string deep = dir_;
  for (int i = 0; i < 6; ++i) {
    deep += std::string(50, static_cast<char>('a' + i)) + "/";
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  std::string one = deep + "catalog-one.vd", two = deep + "catalog-two.vd";
  ASSERT_GT(monitor::normalisedPath(one).size(), 300u);
  EventQueue first, second, again;
  first.attach(one);
  second.attach(two);
  again.attach(one);
  EXPECT_EQ(usedSlots(), 2);
  EXPECT_NE(first.key(), second.key());
  EXPECT_EQ(section()->slots[3].key[0], '#');  // the key form of long paths
  first.post(monitor::kEventRecordUpdated, 1);
  int id = 0;
  EXPECT_EQ(second.readNext(&id), monitor::kEventNone);
  EXPECT_EQ(again.readNext(&id), monitor::kEventRecordUpdated);
  std::string k1 = first.key(), k2 = second.key();
  for (EventQueue* q : {&first, &second, &again}) q->detach(false);
  EXPECT_EQ(usedSlots(), 0);
  EXPECT_EQ(catalogObjects(k1) + catalogObjects(k2), 0);
}

TEST_F(SlotTest, KilledHolderOfTheCatalogMutexLeavesNoHangAndNoIdBlock) {
  std::string path = catalog("a.vd");
  EventQueue survivor;  // keeps the slot in use, so it is joined below, not made afresh
  survivor.attach(path);
  vdtest::PeerProcess peer("peer", {prefix_});
  ASSERT_EQ(peer.call("attach n " + path), "ok");
  ASSERT_EQ(peer.call("ids n 100 120"), "ok");
  ASSERT_EQ(peer.call("lock n"), "locked");
  peer.killNow();

  EventQueue queue;
  queue.attach(path);  // without the catalog mutex: its first lock recovers it, not hung
  EXPECT_TRUE(queue.lock());
  EXPECT_EQ(queue.nextId(), -1);  // the dead process's block is forgotten
  EXPECT_EQ(queue.maxId(), -1);
  queue.unlock();
  queue.detach(false);
  survivor.detach(false);
  EXPECT_EQ(usedSlots(), 0);  // the dead user's count does not keep the slot
  EXPECT_EQ(catalogObjects(monitor::catalogKey(monitor::normalisedPath(path))), 0);

  // Alone, the dead process's slot is taken over afresh.
  vdtest::PeerProcess second("peer", {prefix_});
  ASSERT_EQ(second.call("attach n " + path), "ok");
  ASSERT_EQ(second.call("lock n"), "locked");
  second.killNow();
  EventQueue alone;
  alone.attach(path);
  EXPECT_EQ(section()->slots[3].attachCount, 1);  // the dead user no longer counts
  alone.detach(false);
  EXPECT_EQ(usedSlots(), 0);
}

TEST_F(SlotTest, SlotsOfKilledProcessesAreTakenOver) {
  std::vector<std::unique_ptr<vdtest::PeerProcess>> peers;
  std::vector<std::string> keys;
  for (const char* name : {"a.vd", "b.vd", "c.vd", "d.vd"}) {
    peers.push_back(
        std::make_unique<vdtest::PeerProcess>("peer", std::vector<std::string>{prefix_}));
    ASSERT_EQ(peers.back()->call("attach n " + catalog(name)), "ok");
    keys.push_back(monitor::catalogKey(monitor::normalisedPath(dir_ + name)));
  }
  EventQueue blocked;
  EXPECT_EQ(vdtest::statusOf([&] { blocked.attach(catalog("e.vd")); }), StatusNoFreeSlot);
  for (auto& peer : peers) peer->killNow();

  std::vector<std::unique_ptr<EventQueue>> queues;
  for (const char* name : {"e.vd", "f.vd", "g.vd", "h.vd"}) {
    queues.push_back(std::make_unique<EventQueue>());
    queues.back()->attach(catalog(name));
  }
  for (const auto& k : keys) EXPECT_EQ(catalogObjects(k), 0);  // the dead catalogs' objects
  EventQueue ninth;
  EXPECT_EQ(vdtest::statusOf([&] { ninth.attach(catalog("i.vd")); }), StatusNoFreeSlot);
}

TEST_F(SlotTest, DamagedSectionBytesDoNotStopAttach) {
  std::string path = catalog("a.vd");
  {
    EventQueue first;  // makes the section
  }
  monitor::SectionLayout* s = section();
  for (auto& slot : s->slots) {
    memset(slot.key, 'x', sizeof slot.key);  // no terminator anywhere
    slot.attachCount = -7;
    slot.writeCount = 12345;
  }
  EventQueue queue;
  queue.attach(path);
  EXPECT_EQ(std::string(s->slots[3].key), queue.normalised());
  EXPECT_EQ(s->slots[3].attachCount, 1);
  queue.detach(false);

  s->initialised = 0;  // a section that reads as never initialised is set up again
  queue.attach(path);
  EXPECT_EQ(s->initialised, 1);
  EXPECT_EQ(s->slots[0].key[0], 0);
  EXPECT_EQ(s->slots[0].capacity, 65536);
}

TEST_F(SlotTest, ProcessesRacingToMakeTheSectionMeetInOneSlot) {
  std::string path = catalog("a.vd");
  std::vector<std::unique_ptr<vdtest::PeerProcess>> peers;
  for (int i = 0; i < 4; ++i)
    peers.push_back(
        std::make_unique<vdtest::PeerProcess>("peer", std::vector<std::string>{prefix_}));
  for (auto& peer : peers) peer->send("attach n " + path);  // none of the objects exist yet
  for (auto& peer : peers) EXPECT_EQ(peer->readLine(), "ok");
  EXPECT_EQ(usedSlots(), 1);
  EXPECT_EQ(section()->slots[3].attachCount, 4);
  ASSERT_EQ(peers[0]->call("post n 6 99"), "ok");
  for (int i = 1; i < 4; ++i) EXPECT_EQ(peers[i]->call("read n"), "6 99");
  for (auto& peer : peers) EXPECT_EQ(peer->call("detach n"), "0");
  EXPECT_EQ(usedSlots(), 0);
  EXPECT_EQ(vdtest::listTestObjects(prefix_).size(), 3u);  // section, system mutex, counter
}

}  // namespace
