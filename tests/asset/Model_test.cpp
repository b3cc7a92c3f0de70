// The record model: element and attribute naming, value conversions, handle sharing,
// elements that outlive their asset, blob ownership, time stamps, user payloads and locking.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "RecordFixture.h"
#include "helpers/StatusOf.h"
#include "vendrithane/Asset.h"

namespace KESTRIN {
namespace Vendrithane {
namespace {

using testing::assetFromRecord;
using testing::text;

using vdtest::statusOf;

TEST(AssetModel, ElementNamesIgnoreCaseAttributeNamesDoNot) {
  Asset a;
  a.element("Title") = "one";
  a.element("TITLE") = "two";
  EXPECT_EQ(a.nElements(), 1);
  EXPECT_TRUE(a.elementExists("tItLe"));
  EXPECT_EQ(text(a.element("title").name()), "title");
  EXPECT_EQ(text(a.element("title")), "two");

  Element e = a.element("title");
  e.attribute("Mime") = "a";
  e.attribute("mime") = "b";
  EXPECT_EQ(e.nAttributes(), 2);
  EXPECT_FALSE(e.attributeExists("MIME"));
  a.erase("TiTlE");
  EXPECT_EQ(a.nElements(), 0);
  a.erase("absent");  // nothing to do
}

TEST(AssetModel, ValueAssignmentStoresTextAndType) {
  Asset a;
  a.element("i") = -42;
  a.element("l") = 5000000000LL;
  a.element("s") = "A & B";
  a.element("t") = Time(1204700000);
  EXPECT_EQ(a.element("i").type(), TypeInt4);
  EXPECT_EQ(text(a.element("i")), "-42");
  EXPECT_EQ(a.element("l").type(), TypeInt8);
  EXPECT_EQ(text(a.element("l")), "5000000000");
  EXPECT_EQ(a.element("s").type(), TypeText);
  EXPECT_EQ(a.element("t").type(), TypeTime);
  EXPECT_EQ(text(a.element("t")), "1204700000");
  EXPECT_TRUE(AssetAccess::impl(a.element("t"))->userSet);
  EXPECT_FALSE(AssetAccess::impl(a.element("fresh"))->userSet);
  EXPECT_EQ(a.element("fresh").type(), TypeUndef);
}

TEST(AssetModel, ConversionsReadTheTextWhateverTheType) {
  Asset a;
  Element empty = a.element("empty");
  EXPECT_EQ(static_cast<int>(empty), 0);
  EXPECT_EQ(statusOf([&] { (void)static_cast<long long>(empty); }), StatusNotNumber);

  a.element("digits") = "123";
  EXPECT_EQ(static_cast<int>(a.element("digits")), 123);
  a.element("big") = 4294967296LL;
  EXPECT_EQ(statusOf([&] { (void)static_cast<int>(a.element("big")); }), StatusNumberTooLarge);
  EXPECT_EQ(static_cast<long long>(a.element("big")), 4294967296LL);
  a.element("word") = "12a";
  EXPECT_EQ(statusOf([&] { (void)static_cast<int>(a.element("word")); }), StatusNotNumber);
  EXPECT_EQ(text(a.element("word")), "12a");  // a failed conversion changes nothing

  a.element("when") = Time(1204700000);
  EXPECT_EQ(static_cast<long long>(a.element("when")), 1204700000LL);
  EXPECT_EQ(static_cast<long long>(Time(a.element("when"))), 1204700000LL);
  Time t;
  t = a.element("when");
  EXPECT_EQ(static_cast<long long>(t), 1204700000LL);
  EXPECT_EQ(statusOf([&] { Time bad(a.element("word")); }), StatusNotNumber);

  String s(a.element("word"));
  EXPECT_EQ(text(s), "12a");
  s = a.element("digits");
  EXPECT_EQ(text(s), "123");
  EXPECT_EQ(statusOf([&] { (void)static_cast<const Blob&>(a.element("word")); }), StatusNotNumber);
}

TEST(AssetModel, AttributeTypesAreInferredFromTheText) {
  Element e;
  Attribute& at = e.attribute("a");
  at = "4294967296";
  EXPECT_EQ(at.type(), TypeInt8);
  EXPECT_EQ(statusOf([&] { (void)static_cast<int>(at); }), StatusNumberTooLarge);
  EXPECT_EQ(static_cast<long long>(at), 4294967296LL);
  at = -7;
  EXPECT_EQ(at.type(), TypeInt4);
  EXPECT_EQ(static_cast<int>(at), -7);
  at = "12a";
  EXPECT_EQ(at.type(), TypeText);
  EXPECT_EQ(statusOf([&] { (void)static_cast<long long>(at); }), StatusNotNumber);
  at = "";
  EXPECT_EQ(at.type(), TypeText);
  at = Time(99);
  EXPECT_EQ(text(String(at)), "99");
  String s;
  s = at;
  EXPECT_EQ(text(s), "99");
}

TEST(AssetModel, HandlesShareAndAssignmentRepoints) {
  Asset a;
  Element e1 = a.element("x");
  Element e2;
  e2 = e1;
  e2 = 5;
  EXPECT_EQ(text(a.element("x")), "5");
  Element& same = e2;
  e2 = same;  // self assignment keeps the element
  EXPECT_EQ(AssetAccess::impl(e2), AssetAccess::impl(a.element("x")));

  Asset b = a;
  Asset c;
  c = b;
  EXPECT_EQ(AssetAccess::impl(c), AssetAccess::impl(a));
  c.element("y") = "seen";
  EXPECT_TRUE(a.elementExists("y"));
}

// Handles the library makes for its own objects hold one reference each, so that the last
// host handle to go frees the object.
TEST(AssetModel, LibraryMadeHandlesHoldOneReference) {
  Asset a;
  Element& e = a.element("x");
  EXPECT_EQ(AssetAccess::impl(e)->refs.load(), 1);  // the element map's own handle
  EXPECT_EQ(AssetAccess::impl(e.attribute("lang"))->refs.load(), 1);
  Element copy = e;
  EXPECT_EQ(AssetAccess::impl(e)->refs.load(), 2);

  Blob b;
  unsigned char bytes[] = {1, 2, 3};
  ASSERT_EQ(b.set(bytes, sizeof bytes, Blob::LocationCatalog), 0);
  Blob clone = b.clone();
  EXPECT_EQ(AssetAccess::impl(clone)->refs.load(), 1);
  e = clone;  // a free blob is attached itself: the element holds the second reference
  EXPECT_EQ(AssetAccess::impl(clone)->refs.load(), 2);

  Asset parsed = assetFromRecord("<x>1</x>");
  EXPECT_EQ(AssetAccess::impl(parsed)->refs.load(), 1);
  Asset shared = parsed;
  EXPECT_EQ(AssetAccess::impl(parsed)->refs.load(), 2);
}

TEST(AssetModel, ElementCopiesOutliveTheirAsset) {
  Element kept;
  Attribute keptAttribute;
  Element erased;
  {
    Asset a;
    a.element("kept") = "value";
    a.element("kept").attribute("lang") = "en";
    a.element("erased") = 3;
    kept = a.element("kept");
    keptAttribute = a.element("kept").attribute("lang");
    erased = a.element("erased");
    a.erase("erased");
    erased = 4;  // usable on its own right away
  }
  EXPECT_EQ(text(kept), "value");
  kept = "changed";
  EXPECT_EQ(text(kept), "changed");
  EXPECT_EQ(AssetAccess::impl(kept)->asset, nullptr);
  EXPECT_EQ(text(String(kept.attribute("lang"))), "en");
  keptAttribute = "fr";
  EXPECT_EQ(text(String(kept.attribute("lang"))), "fr");
  EXPECT_EQ(static_cast<int>(erased), 4);

  kept.erase("lang");  // the attribute handle survives its element's map
  keptAttribute = "de";
  EXPECT_EQ(AssetAccess::impl(keptAttribute)->element, nullptr);
  EXPECT_EQ(kept.nAttributes(), 0);
}

TEST(AssetModel, EraseOfAnElementDropsAttributesButKeepsTheValue) {
  Asset a;
  Element e = a.element("e");
  e = "v";
  e.attribute("a") = "1";
  e.attribute("b") = "2";
  e.erase("a");
  EXPECT_FALSE(e.attributeExists("a"));
  e.erase();
  EXPECT_EQ(e.nAttributes(), 0);
  EXPECT_EQ(text(e), "v");
}

TEST(AssetModel, TimeStampsAreCreatedUnset) {
  Asset a;
  Element& created = a.created();
  EXPECT_EQ(created.type(), TypeTime);
  EXPECT_EQ(text(created), "0");
  EXPECT_FALSE(AssetAccess::impl(created)->userSet);
  EXPECT_TRUE(a.elementExists("vd_created"));
  a.modified() = Time(10);
  EXPECT_TRUE(AssetAccess::impl(a.modified())->userSet);
  EXPECT_EQ(static_cast<long long>(a.modified()), 10);
}

TEST(AssetModel, BlobsBelongToOneElement) {
  unsigned char bytes[] = {1, 0, 2, 3};
  Blob b;
  b.set(bytes, sizeof bytes, Blob::LocationCatalog);
  Asset a;
  a.element("first") = b;
  a.element("second") = b;
  const Blob& first = a.element("first");
  const Blob& second = a.element("second");
  EXPECT_EQ(AssetAccess::impl(first), AssetAccess::impl(b));
  ASSERT_NE(AssetAccess::impl(second), AssetAccess::impl(b));
  EXPECT_EQ(AssetAccess::impl(second)->length, 4u);
  EXPECT_EQ(second[1], 0);
  EXPECT_EQ(second[3], 3);
  EXPECT_FALSE(AssetAccess::impl(second)->stored);
  EXPECT_EQ(AssetAccess::impl(second)->owner, AssetAccess::impl(a.element("second")));

  // The element that holds it already: nothing changes, no clone.
  AssetAccess::impl(a.element("first"))->text = "unchanged";
  a.element("first") = b;
  EXPECT_EQ(AssetAccess::impl(static_cast<const Blob&>(a.element("first"))), AssetAccess::impl(b));
  EXPECT_EQ(testing::valueOf(a, "first"), "unchanged");

  EXPECT_EQ(text(String(a.element("second"))), std::string("\x01\x00\x02\x03", 4));

  // Another value lets the blob go; a free blob is attached as it is.
  a.element("first") = 1;
  EXPECT_EQ(AssetAccess::impl(b)->owner, nullptr);
  a.element("third") = b;
  EXPECT_EQ(AssetAccess::impl(static_cast<const Blob&>(a.element("third"))), AssetAccess::impl(b));
}

class CountingPayload : public UserData {
 public:
  explicit CountingPayload(int* disposed) : m_disposed(disposed) {}
  void dispose() override { ++*m_disposed; }

 private:
  int* m_disposed;
};

TEST(AssetModel, UserDataIsDisposedWhenLetGo) {
  int disposedFirst = 0;
  int disposedSecond = 0;
  CountingPayload first(&disposedFirst);
  CountingPayload second(&disposedSecond);
  {
    Asset a;
    a.userData(&first);
    a.userData(&first);
    EXPECT_EQ(disposedFirst, 0);
    a.userData(&second);
    EXPECT_EQ(disposedFirst, 1);
    EXPECT_EQ(a.userData(), &second);
  }
  EXPECT_EQ(disposedSecond, 1);
}

TEST(AssetModel, EraseAllDropsAnUnreadRecord) {
  Asset a = assetFromRecord("<a>1</a><b>2</b>");
  a.erase();
  EXPECT_EQ(a.nElements(), 0);
  a.element("c") = 3;
  EXPECT_EQ(a.nElements(), 1);
}

TEST(AssetModel, HostLockExcludesOtherThreads) {
  Asset a;
  a.element("n") = 0;
  a.lock();
  std::atomic<bool> done{false};
  std::thread other([&] {
    a.element("n") = 1;
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(done.load());
  EXPECT_EQ(static_cast<int>(a.element("n")), 0);  // recursive: our own calls go through
  a.unlock();
  other.join();
  EXPECT_EQ(static_cast<int>(a.element("n")), 1);
}

// Element handles used on other threads while the asset's last handle goes: each operation
// must land under a live lock (the asset's, then the default one).
TEST(AssetModel, ElementsStayUsableWhileTheirAssetIsReleased) {
  for (int round = 0; round < 50; ++round) {
    Asset* a = new Asset;
    std::vector<Element> copies;
    for (int k = 0; k < 4; ++k) {
      Element& e = a->element(std::to_string(k).c_str());
      e.attribute("n") = k;
      copies.push_back(e);
    }
    std::atomic<bool> go{false};
    std::vector<std::thread> users;
    for (int k = 0; k < 2; ++k) {
      users.emplace_back([&, k] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 200; ++i) {
          Element& e = copies[(k + i) % copies.size()];
          e = i;
          e.attribute("n") = i;
          (void)static_cast<int>(e);
        }
      });
    }
    go = true;
    delete a;
    for (auto& t : users) t.join();
    for (auto& e : copies) EXPECT_EQ(AssetAccess::impl(e)->lock.peek(), defaultRecordLock().get());
  }
}

}  // namespace
}  // namespace Vendrithane
}  // namespace KESTRIN
