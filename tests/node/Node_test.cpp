// The Node handle and its settings: handle sharing and assignment, directories, names and
// file names, configure, mode and remove.
#include "NodeFixture.h"
#include "platform/RawFile.h"

using namespace KESTRIN::Vendrithane;

TEST_F(NodeTest, HandlesShareOneCatalogAndNeverChangeIt) {
  Node a("photos", dir_.c_str());
  Node b(a);
  Node other("music", dir_.c_str());
  b.name("pictures");
  EXPECT_EQ(a.name(), "pictures");
  EXPECT_EQ(NodeAccess::impl(a)->handles(), 2);

  Node& self = a;
  EXPECT_NO_THROW(a = self);
  EXPECT_NO_THROW(a = b);
  EXPECT_EQ(vdtest::statusOf([&] { a = other; }), StatusWrongCatalog);
  EXPECT_EQ(a.name(), "pictures");
  EXPECT_EQ(other.name(), "music");
  EXPECT_TRUE(a.local());

  // The last handle closes the catalog.
  size_t descriptors = platform::RawFile::openCount();
  {
    Node solo = created("solo");
    Node copy(solo);
    ASSERT_EQ(copy.open(), 0);
    EXPECT_EQ(solo.version(), "6.0");
    EXPECT_GT(platform::RawFile::openCount(), descriptors);
  }
  EXPECT_EQ(platform::RawFile::openCount(), descriptors);
  Node again("solo", dir_.c_str());
  EXPECT_EQ(again.open(), 0);
  EXPECT_EQ(again.close(), 0);
}

TEST_F(NodeTest, DirectoriesNamesAndFileNames) {
  Node node("photos", "C:\\data\\catalogs", nullptr);
  EXPECT_EQ(node.path(false), "C:/data/catalogs/");
  EXPECT_EQ(node.path(true), "C:/data/catalogs/");
  EXPECT_EQ(NodeAccess::impl(node)->backupDirectory(), "C:/data/catalogs/");

  node.path("/srv/main/", "/srv/blobs");
  EXPECT_EQ(node.path(false), "/srv/main/");
  EXPECT_EQ(node.path(true), "/srv/blobs/");
  EXPECT_EQ(NodeAccess::impl(node)->backupDirectory(), "/srv/main/");  // it followed
  EXPECT_EQ(NodeAccess::impl(node)->blobFile(), "/srv/blobs/photos.vm");

  std::vector<String> bare = node.systemFilenames(false);
  ASSERT_EQ(bare.size(), 2u);
  EXPECT_EQ(bare[0], "photos.vd");
  EXPECT_EQ(bare[1], "photos.vm");
  std::vector<String> full = node.systemFilenames(true);
  ASSERT_EQ(full.size(), 2u);
  EXPECT_EQ(full[0], "/srv/main/photos.vd");
  EXPECT_EQ(full[1], "/srv/main/photos.vm");

  node.path("", "");  // never the file system's root
  EXPECT_EQ(node.path(false), "./");
  EXPECT_EQ(node.path(true), "./");
}

TEST_F(NodeTest, ConfigureStatuses) {
  Node node = created("photos");
  EXPECT_EQ(node.configure(Node::OptionSynchronous, 1), StatusNotOpen);
  EXPECT_EQ(node.configure(Node::OptionOtherProcesses, 1), StatusNotOpen);
  EXPECT_EQ(node.configure(static_cast<Node::Option>(7)), StatusNotOpen);

  ASSERT_EQ(node.open(), 0);
  EXPECT_EQ(node.configure(Node::OptionSynchronous, 0), 0);
  EXPECT_EQ(node.configure(Node::OptionSynchronous), 0);
  EXPECT_EQ(node.configure(Node::OptionSynchronous, 1), 0);
  EXPECT_EQ(node.configure(Node::OptionSynchronous), 1);
  EXPECT_EQ(node.configure(Node::OptionDefaultSynchronous, 1), 0);
  EXPECT_EQ(node.configure(Node::OptionDefaultSynchronous), -1);  // the engine reports nothing
  EXPECT_EQ(node.configure(Node::OptionOtherProcesses, 0), StatusUnsupported);
  int others = node.configure(Node::OptionOtherProcesses);
  EXPECT_TRUE(others == 0 || others == -1) << others;
  EXPECT_EQ(node.configure(static_cast<Node::Option>(7), 1), StatusEmptyArgument);
  EXPECT_EQ(node.configure(static_cast<Node::Option>(7)), -1);
  EXPECT_EQ(node.close(), 0);
}

TEST_F(NodeTest, ModeExistsAndRemove) {
  Node node = created("photos");
  std::string main = dir_ + "photos.vd", blob = dir_ + "photos.vm";
  EXPECT_EQ(node.exists(), 0);

  EXPECT_EQ(node.mode(true), 0);
  struct stat st;
  ASSERT_EQ(stat(main.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ASSERT_EQ(stat(blob.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(node.open(), StatusReadOnly);  // the owner write bit decides, also for root
  EXPECT_EQ(node.mode(false), 0);
  ASSERT_EQ(node.open(), 0);

  EXPECT_EQ(node.remove(), StatusNotOpen);
  EXPECT_TRUE(present(main));
  EXPECT_EQ(node.close(), 0);
  EXPECT_EQ(node.remove(), 0);
  EXPECT_FALSE(present(main));
  EXPECT_FALSE(present(blob));
  EXPECT_EQ(node.exists(), -1);
  EXPECT_EQ(node.remove(), StatusNotOpen);
  EXPECT_EQ(node.mode(true), StatusPermissionFailed);
}
