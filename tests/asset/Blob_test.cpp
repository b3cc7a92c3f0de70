// Blobs: bytes in memory (set, resize, release, decoding of the earlier text encoding),
// copies, file blobs, lazy loading from a catalog's vd_blobs rows, and the blob store of
// an asset with its keep list, blobs moved between records, and rollbacks of their writes,
// checked with the stock shell on the blob file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "asset/BlobImpl.h"
#include "asset/BlobStore.h"
#include "asset/RecordFixture.h"
#include "helpers/ScratchDir.h"
#include "helpers/StatusOf.h"
#include "node/ConnectionPool.h"
#include "node/NodeFixture.h"
#include "vendrithane/Asset.h"
#include "vendrithane/Blob.h"

namespace KESTRIN {
namespace Vendrithane {
namespace {

using testing::assetFromRecord;

using vdtest::statusOf;

std::string bytesOf(Blob b) {
  const unsigned char* p = b.buffer(0);
  if (p == nullptr) return "<null>";
  return std::string(reinterpret_cast<const char*>(p), b.length());
}

Blob blobOf(Asset& a, const char* name) {
  return Blob(a.element(name));
}

// A blob of `n` bytes of `text`, in the catalog.
Blob catalogBlob(const std::string& text) {
  Blob b;
  b.set(reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())), text.size(),
        Blob::LocationCatalog);
  return b;
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// ---- Bytes in memory ----

TEST(BlobModel, BytesSetFromMemoryAreTheOnlyCopyUntilStored) {
  Blob b = catalogBlob(std::string("ab\0c", 4));
  EXPECT_EQ(b.mime().buffer(), std::string("NA"));
  EXPECT_EQ(b[2], 0);
  EXPECT_EQ(statusOf([&] { (void)b[4]; }), StatusOutOfBounds);
  // Never stored: the memory copy is all there is, so release refuses and keeps it.
  EXPECT_EQ(b.release(), StatusBlobFailed);
  EXPECT_EQ(bytesOf(b), std::string("ab\0c", 4));
  // A null source with a length is refused without touching the blob.
  EXPECT_EQ(b.set(nullptr, 5, Blob::LocationCatalog), StatusEmptyArgument);
  EXPECT_EQ(b.length(), 4u);

  // A file blob's bytes may go: its file holds the value.
  unsigned char one = 'x';
  Blob f;
  f.set(&one, 1, Blob::LocationFile);
  EXPECT_EQ(f.release(), 0);
  EXPECT_EQ(f.buffer(0), nullptr);
  EXPECT_EQ(statusOf([&] { (void)f[0]; }), StatusOutOfBounds);
}

TEST(BlobModel, RecordBlobIsNotInMemoryUntilLoaded) {
  Asset a = assetFromRecord("<t type=\"blob\" mime=\"m\" store=\"db\" length=\"4\"></t>");
  Blob b = blobOf(a, "t");
  EXPECT_EQ(b.length(), 4u);
  EXPECT_EQ(statusOf([&] { (void)b[0]; }), StatusOutOfBounds);  // no loading
  // Its asset belongs to no catalog: nothing to load from, and it stays unloaded.
  EXPECT_EQ(loadBlob(*AssetAccess::impl(b)), StatusNotOpen);
  EXPECT_EQ(b.buffer(0), nullptr);
  EXPECT_FALSE(AssetAccess::impl(b)->loaded);
  EXPECT_EQ(b.release(), 0);  // the catalog holds it
}

TEST(BlobModel, BufferResizesLoadedBytes) {
  Blob b = catalogBlob("abcd");
  b.mime("image/png");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.buffer(4)), 4), "abcd");  // same length
  EXPECT_EQ(b.mime().buffer(), std::string("image/png"));
  unsigned char* p = b.buffer(6);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 7), std::string("abcd\0\0\0", 7));
  EXPECT_EQ(b.length(), 6u);
  EXPECT_EQ(b.mime().buffer(), std::string("NA"));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.buffer(2)), 3), std::string("ab\0", 3));

  // A size that cannot be held leaves the blob as it was.
  EXPECT_THROW(b.buffer(~0ULL - 1), std::bad_alloc);
  EXPECT_EQ(bytesOf(b), "ab");

  // Cleared bytes are an empty value that can grow again.
  b.clear();
  EXPECT_EQ(b.length(), 0u);
  EXPECT_EQ(b.buffer(0), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.buffer(3)), 3), std::string("\0\0\0", 3));

  // Bytes not loaded are never resized.
  Blob url;
  url.set(String("/nowhere"), Blob::LocationFile, false);
  EXPECT_EQ(url.buffer(10), nullptr);
  EXPECT_EQ(url.length(), kUnknownBlobLength);
}

TEST(BlobModel, DecodesTheEarlierTextEncoding) {
  Blob b;
  EXPECT_EQ(b.decode(reinterpret_cast<const unsigned char*>("ADB")), 0);
  EXPECT_EQ(bytesOf(b), std::string("A\0B", 3));
  EXPECT_EQ(b.mime().buffer(), std::string("NA"));

  const unsigned char escapes[] = {0x86, 0x01, 0x86, 0x02, 0x86, 0x03, 'x', 0};
  b.decode(escapes);
  EXPECT_EQ(bytesOf(b), std::string("D\x86'x"));

  // A lone escape byte stands for itself; a trailing one never reads past the text.
  const unsigned char lone[] = {'a', 0x86, 'z', 0x86, 0};
  b.decode(lone);
  EXPECT_EQ(bytesOf(b), std::string("a\x86z\x86"));

  b.decode(reinterpret_cast<const unsigned char*>(""));
  EXPECT_EQ(b.length(), 0u);
  EXPECT_EQ(b.buffer(0), nullptr);
}

TEST(BlobModel, UrlsAndCopies) {
  Blob b = catalogBlob("xyz");
  EXPECT_EQ(b.set(String("FiLe://Dir/Name"), Blob::LocationCatalog, false), 0);
  EXPECT_EQ(b.url().buffer(), std::string("file://Dir/Name"));
  EXPECT_EQ(b.length(), kUnknownBlobLength);
  EXPECT_EQ(b.buffer(0), nullptr);
  EXPECT_EQ(b.mime().buffer(), std::string("NA"));
  EXPECT_EQ(statusOf([&] { b.set(String("/x"), Blob::LocationFile, true); }), StatusUnsupported);
  b.url(String("/some/path"));
  EXPECT_EQ(b.location(), Blob::LocationFile);
  EXPECT_FALSE(b.managed());

  // A clone is a free, unstored blob with bytes of its own.
  Asset a;
  a.element("e") = catalogBlob("data");
  Blob held = blobOf(a, "e");
  AssetAccess::impl(held)->stored = true;
  Blob copy = held.clone();
  EXPECT_EQ(AssetAccess::impl(copy)->owner, nullptr);
  EXPECT_FALSE(AssetAccess::impl(copy)->stored);
  copy.buffer(0)[0] = 'D';
  EXPECT_EQ(bytesOf(held), "data");
  EXPECT_EQ(bytesOf(copy), "Data");

  // set copies everything but the owner; catalog bytes count as not yet held for the copy.
  Blob target;
  target.set(held);
  EXPECT_EQ(bytesOf(target), "data");
  EXPECT_EQ(target.release(), StatusBlobFailed);
  Blob file;
  file.set(String("/f"), Blob::LocationFile, false);
  AssetAccess::impl(file)->stored = true;
  target.set(file);
  EXPECT_TRUE(AssetAccess::impl(target)->stored);
  EXPECT_EQ(target.url().buffer(), std::string("/f"));
  EXPECT_EQ(target.buffer(0), nullptr);
}

TEST(BlobModel, FileBlobsReadTheirFile) {
  vdtest::ScratchDir scratch("vdblob-");
  const std::string dir = scratch.path();
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "photo.bin";
  writeBytes(path, std::string("\x01\x00\x02", 3));
  Asset a = assetFromRecord("<p type=\"blob\" mime=\"m\" store=\"os\" length=\"1\">" + path +
                            "</p><gone type=\"blob\" mime=\"m\" store=\"os\" length=\"9\">" + dir +
                            "missing</gone><dir type=\"blob\" mime=\"m\" " +
                            "store=\"os\" length=\"0\">" + dir + "</dir>");
  Blob p = blobOf(a, "p");
  EXPECT_EQ(p.length(), 3u);  // the file's size, not the recorded one
  writeBytes(path, "four");
  EXPECT_EQ(p.length(), 4u);  // asked again each time
  EXPECT_EQ(bytesOf(p), "four");
  EXPECT_EQ(p.release(), 0);

  Blob gone = blobOf(a, "gone");
  EXPECT_EQ(gone.length(), kUnknownBlobLength);
  EXPECT_EQ(loadBlob(*AssetAccess::impl(gone)), StatusNotFound);
  EXPECT_EQ(gone.buffer(0), nullptr);
  EXPECT_EQ(loadBlob(*AssetAccess::impl(blobOf(a, "dir"))), StatusPermissionFailed);
  EXPECT_EQ(scratch.remove(), std::error_code()) << dir;
}

TEST(BlobModel, LockCountsEntries) {
  Blob b;
  Blob other(b);
  EXPECT_EQ(b.isLocked(), 0);
  b.lock();
  other.lock();
  EXPECT_EQ(b.isLocked(), 2);
  b.unlock();
  other.unlock();
  EXPECT_EQ(b.isLocked(), 0);
}

// ---- Catalog storage ----

class BlobCatalog : public NodeTest {
 protected:
  void SetUp() override {
    NodeTest::SetUp();
    node_.reset(new Node(created("blobs")));
    ASSERT_EQ(node_->open(), 0);
    impl_ = NodeAccess::impl(*node_);
  }
  void TearDown() override {
    node_.reset();
    NodeTest::TearDown();
  }

  Asset boundAsset(int id) {
    Asset a;
    AssetAccess::impl(a)->node = impl_;
    AssetAccess::impl(a)->id = id;
    return a;
  }
  // The asset as a later load would see it: its written record, parsed on first use.
  Asset reloaded(Asset& a) {
    Asset copy = assetFromRecord(testing::recordOf(a), a.id());
    AssetAccess::impl(copy)->node = impl_;
    return copy;
  }
  Status store(Asset& a) {
    node::ConnectionLease lease(impl_->pool());
    std::lock_guard<RecordLock> hold(*AssetAccess::impl(a)->lock);
    return storeAssetBlobs(*lease, *AssetAccess::impl(a));
  }
  node::ErrorRecord lastError() {
    node::ConnectionLease lease(impl_->pool());
    return lease->lastError();
  }
  // The asset's rows as "tag=HEX" lines, read by the stock shell.
  std::string rows(int id) {
    return shell(dir_ + "blobs.vm",
                 "SELECT vd_tag||'='||hex(vd_blob) FROM vd_blobs WHERE "
                 "vd_aid=" +
                     std::to_string(id) + " ORDER BY vd_tag;");
  }

  std::unique_ptr<Node> node_;
  NodeImpl* impl_ = nullptr;
};

TEST_F(BlobCatalog, StoreWritesCatalogBlobsAndLoadReadsThemBack) {
  Asset other = boundAsset(50);
  other.element("thumb") = catalogBlob("other");
  ASSERT_EQ(store(other), 0);

  Asset a = boundAsset(100);
  a.element("thumb") = catalogBlob(std::string("\xff\0A", 3));
  Blob empty;
  empty.set(nullptr, 0, Blob::LocationCatalog);
  a.element("empty") = empty;
  Blob file;
  file.url(String((dir_ + "photo.jpg").c_str()));
  a.element("file") = file;
  a.element("count") = 5;
  ASSERT_EQ(store(a), 0);
  // No row for the file blob; an empty blob is an empty value, not NULL.
  EXPECT_EQ(rows(100), "empty=\nthumb=FF0041\n");
  EXPECT_EQ(shell(dir_ + "blobs.vm", "SELECT typeof(vd_blob) FROM vd_blobs WHERE vd_tag='empty';"),
            "blob\n");
  EXPECT_EQ(rows(50), "thumb=6F74686572\n");
  // Written, so the memory copy may go and come back.
  Blob thumb = blobOf(a, "thumb");
  EXPECT_EQ(thumb.release(), 0);
  EXPECT_EQ(bytesOf(thumb), std::string("\xff\0A", 3));

  Asset back = reloaded(a);
  Blob loaded = blobOf(back, "thumb");
  EXPECT_EQ(statusOf([&] { (void)loaded[0]; }), StatusOutOfBounds);
  EXPECT_EQ(bytesOf(loaded), std::string("\xff\0A", 3));
  EXPECT_EQ(loaded[0], 0xff);
  EXPECT_EQ(blobOf(back, "empty").length(), 0u);
  EXPECT_EQ(loadBlob(*AssetAccess::impl(blobOf(back, "empty"))), StatusOk);
  EXPECT_EQ(blobOf(back, "file").url().buffer(), dir_ + "photo.jpg");

  // A copy of a blob not yet in memory carries its bytes, and must be written for its owner.
  Asset again = reloaded(a);
  Blob source = blobOf(again, "thumb");
  Blob copy;
  copy.set(source);
  EXPECT_EQ(bytesOf(copy), std::string("\xff\0A", 3));
  EXPECT_EQ(copy.release(), StatusBlobFailed);
  EXPECT_EQ(bytesOf(blobOf(again, "empty").clone()), "<null>");  // empty, but loaded
}

TEST_F(BlobCatalog, RowOfAnotherLengthOrClosedCatalogLoadsNothing) {
  Asset a = boundAsset(100);
  a.element("t") = catalogBlob("four");
  ASSERT_EQ(store(a), 0);

  for (const char* length : {"5", "3", "6000000000"}) {
    Asset wrong = assetFromRecord(
        std::string("<t type=\"blob\" mime=\"m\" store=\"db\" length=\"") + length + "\"></t>",
        100);
    AssetAccess::impl(wrong)->node = impl_;
    Blob t = blobOf(wrong, "t");
    EXPECT_EQ(t.buffer(0), nullptr) << length;
    EXPECT_FALSE(
        AssetAccess::impl(t)->loaded);  // a store must not take the missing bytes for the value
    node::ErrorRecord error = lastError();
    EXPECT_EQ(error.status, StatusBlobFailed);
    EXPECT_NE(error.statement.find("SELECT vd_blob FROM vd_blobs WHERE vd_aid=100"),
              std::string::npos);
  }

  // No row at all.
  Asset missing =
      assetFromRecord("<u type=\"blob\" mime=\"m\" store=\"db\" length=\"4\"></u>", 100);
  AssetAccess::impl(missing)->node = impl_;
  EXPECT_EQ(loadBlob(*AssetAccess::impl(blobOf(missing, "u"))), StatusBlobFailed);

  Asset right = reloaded(a);
  Blob t = blobOf(right, "t");
  ASSERT_EQ(node_->close(), 0);
  EXPECT_EQ(loadBlob(*AssetAccess::impl(t)), StatusNotOpen);
  EXPECT_EQ(t.buffer(0), nullptr);
}

TEST_F(BlobCatalog, StoreDeletesRowsOfElementsNoLongerBlobs) {
  Asset other = boundAsset(7);
  other.element("b") = catalogBlob("keep");
  ASSERT_EQ(store(other), 0);

  Asset a = boundAsset(100);
  a.element("a") = catalogBlob("1");
  a.element("b") = catalogBlob("2");
  a.element("o'brien") = catalogBlob("3");  // the name reaches the statements quoted
  ASSERT_EQ(store(a), 0);
  EXPECT_EQ(rows(100), "a=31\nb=32\no'brien=33\n");

  a.element("b") = "now text";
  ASSERT_EQ(store(a), 0);
  EXPECT_EQ(rows(100), "a=31\no'brien=33\n");
  EXPECT_EQ(rows(7), "b=6B656570\n");

  // Blobs still only in the catalog are kept without being read or written.
  Asset back = reloaded(a);
  back.element("a") = 1;
  ASSERT_EQ(store(back), 0);
  EXPECT_EQ(rows(100), "o'brien=33\n");
  EXPECT_FALSE(AssetAccess::impl(blobOf(back, "o'brien"))->loaded);
  EXPECT_EQ(bytesOf(blobOf(back, "o'brien")), "3");

  // An asset without any catalog blob loses all its rows.
  back.element("o'brien") = 2;
  ASSERT_EQ(store(back), 0);
  EXPECT_EQ(rows(100), "");
}

TEST_F(BlobCatalog, BlobReadFromItsUrlOrFailingStopsTheStore) {
  Asset a = boundAsset(100);
  a.element("a") = catalogBlob("old a");
  a.element("z") = catalogBlob("old z");
  ASSERT_EQ(store(a), 0);

  a.element("a") = "text now";  // its row would go at the end
  a.element("b") = catalogBlob("new b");
  Blob m;
  m.set(String((dir_ + "absent.bin").c_str()), Blob::LocationCatalog, false);
  a.element("m") = m;
  EXPECT_EQ(store(a), StatusBlobFailed);
  node::ErrorRecord error = lastError();
  EXPECT_EQ(error.status, StatusNotCatalog);
  EXPECT_EQ(error.message, "blob not found at path/URL");
  EXPECT_EQ(error.statement, "loadUrlBlob(blob)");
  // Nothing deleted (the caller rolls back what was written), nothing marked as held.
  EXPECT_EQ(rows(100), "a=6F6C642061\nb=6E65772062\nz=6F6C64207A\n");
  EXPECT_EQ(blobOf(a, "b").release(), StatusBlobFailed);

  // Once the file is there, its bytes become the row.
  writeFile(dir_ + "absent.bin", std::string("f\0le", 4));
  ASSERT_EQ(store(a), 0);
  EXPECT_EQ(rows(100), "b=6E65772062\nm=66006C65\nz=6F6C64207A\n");
  EXPECT_EQ(blobOf(a, "m").length(), 4u);
  EXPECT_EQ(blobOf(a, "m").release(), 0);
}

TEST_F(BlobCatalog, BlobsMovedToAnotherRecordTakeTheirBytesAlong) {
  int id;
  {
    Asset first = node_->asset("photo", true);
    first.element("pic") = catalogBlob("first");
    first.element("alt") = catalogBlob("second");
    first.element("old") = catalogBlob("third");
    ASSERT_EQ(first.store(), 0);
    id = first.id();
  }
  Asset a = node_->assetLoad(id);  // its blobs are only in the catalog, under its rows
  Asset b = node_->asset("photo", true);
  b.element("pic") = static_cast<const Blob&>(a.element("pic"));  // a copy: one owner each
  Blob kept = blobOf(a, "alt");
  a.element("alt") = "text";  // the blob leaves its element; a handle keeps it
  b.element("moved") = kept;
  Element taken = a.element("old");
  a.erase("old");  // the element leaves its record; a handle keeps it
  b.element("old") = static_cast<const Blob&>(taken);
  EXPECT_EQ(kept.release(), StatusBlobFailed);  // not written for b yet: the only copy
  ASSERT_EQ(b.store(), 0);
  ASSERT_EQ(a.remove(), 0);
  EXPECT_EQ(rows(b.id()), "moved=7365636F6E64\nold=7468697264\npic=6669727374\n");

  const int bId = b.id();
  b = Asset();
  kept = Blob();
  Asset back = node_->assetLoad(bId);
  EXPECT_EQ(bytesOf(blobOf(back, "pic")), "first");
  EXPECT_EQ(bytesOf(blobOf(back, "moved")), "second");
  EXPECT_EQ(bytesOf(blobOf(back, "old")), "third");
}

TEST_F(BlobCatalog, RolledBackWritesDoNotCountAsHeld) {
  Asset a = node_->asset("photo", true);
  a.element("pic") = catalogBlob("bytes");
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(a.store(), 0);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_EQ(blobOf(a, "pic").release(), StatusBlobFailed);  // still the only copy
  ASSERT_EQ(a.store(), 0);
  EXPECT_EQ(rows(a.id()), "pic=6279746573\n");

  a.element("pic") = catalogBlob("new");
  ASSERT_EQ(node_->transactionBegin(), 0);
  ASSERT_EQ(a.update(), 0);
  ASSERT_EQ(node_->transactionRollback(), 0);
  EXPECT_EQ(blobOf(a, "pic").release(), StatusBlobFailed);
  EXPECT_EQ(rows(a.id()), "pic=6279746573\n");
  ASSERT_EQ(a.update(), 0);
  EXPECT_EQ(rows(a.id()), "pic=6E6577\n");
}

}  // namespace
}  // namespace Vendrithane
}  // namespace KESTRIN
