// The vendrithane program end to end: run as a process (fork/exec) on catalogs in a scratch
// directory, its output, JSON and exit statuses checked; the catalogs it leaves are read
// back through the library.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "node/NodeFixture.h"
#include "vendrithane/Expression.h"
#include "vendrithane/Filter.h"

namespace KESTRIN {
namespace Vendrithane {
namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

// An 8x8 baseline JPEG without metadata.
const char kTinyJpeg[] =
    "ffd8ffe000104a46494600010100000100010000ffdb0043001b12141714111b1716171e1c1b2028422b2825"
    "2528513a3d3042605565645f555d5b6a7899816a7190735b5d85b586909ea3abadab6780bcc9baa6c799a8ab"
    "a4ffdb0043011c1e1e2823284e2b2b4ea46e5d6ea4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4"
    "a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4ffc00011080008000803012200"
    "021101031101ffc4001500010100000000000000000000000000000004ffc400141001000000000000000000"
    "00000000000000ffc40014010100000000000000000000000000000004ffc400141101000000000000000000"
    "00000000000000ffda000c03010002110311003f009402867fffd9";

std::string tinyJpeg() {
  std::string bytes;
  for (const char* p = kTinyJpeg; p[0] && p[1]; p += 2)
    bytes += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
  return bytes;
}

// The tiny JPEG with an Exif date, camera, orientation and preview, and IPTC keywords.
std::string photoWithMetadata() {
  std::string base = tinyJpeg();
  auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(base.data()),
                                         static_cast<long>(base.size()));
  image->readMetadata();
  Exiv2::ExifData exif;
  exif["Exif.Image.Make"] = "Acme";
  exif["Exif.Image.Model"] = "Pixel 1";
  exif["Exif.Image.Orientation"] = uint16_t(6);
  exif["Exif.Photo.DateTimeOriginal"] = "2008:03:05 14:07:09";
  Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(base.data()),
                                          static_cast<long>(base.size()));
  Exiv2::IptcData iptc;
  for (const char* word : {"harbour", "dusk"}) {
    Exiv2::Iptcdatum keyword(Exiv2::IptcKey("Iptc.Application2.Keywords"));
    keyword.setValue(word);
    iptc.add(keyword);
  }
  image->setExifData(exif);
  image->setIptcData(iptc);
  image->writeMetadata();
  Exiv2::BasicIo& io = image->io();
  io.seek(0, Exiv2::BasicIo::beg);
  Exiv2::DataBuf data = io.read(static_cast<long>(io.size()));
  return std::string(reinterpret_cast<const char*>(data.pData_), static_cast<size_t>(data.size_));
}

struct Result {
  int status;  // the exit status, or 128 + the signal
  std::string out, err;
};

class Tool : public NodeTest {
 protected:
  // Starts the program with `args` in the scratch directory, its output going to files.
  pid_t start(const std::vector<std::string>& args) {
    std::vector<std::string> all{VENDRITHANE_CLI};
    all.insert(all.end(), args.begin(), args.end());
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(120);
      FILE* out = std::freopen((dir_ + "stdout").c_str(), "wb", stdout);
      FILE* err = std::freopen((dir_ + "stderr").c_str(), "wb", stderr);
      if (out == nullptr || err == nullptr) _exit(121);
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(122);
    }
    return pid;
  }
  Result wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            readFile(dir_ + "stdout"), readFile(dir_ + "stderr")};
  }
  Result run(const std::vector<std::string>& args) { return wait(start(args)); }
  json runJson(const std::vector<std::string>& args) {
    Result r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(r.out);
  }
  std::vector<int> findIds(const std::string& expression) {
    std::vector<int> ids;
    for (const json& record : runJson({"find", "cat.vd", expression, "--json"}))
      ids.push_back(record["id"]);
    return ids;
  }
  // The ids a filter selects, through the library in this process.
  std::vector<int> libraryIds(const std::function<Expression(Asset&)>& condition) {
    Node node("cat", dir_.c_str());
    EXPECT_EQ(node.open(), 0);
    Asset a = node.asset("file", true);
    Filter f;
    f = condition(a);
    std::vector<int> ids = node.assetIdLoad(f);
    return ids;
  }
  void makeTree(const std::string& root) {
    fs::create_directories(dir_ + root + "/sub");
    writeFile(dir_ + root + "/photo.jpg", photoWithMetadata());
    writeFile(dir_ + root + "/notes.txt", "harbour at dusk\n");
    writeFile(dir_ + root + "/sub/more.txt", "more notes\n");
    writeFile(dir_ + root + "/.hidden", "not imported\n");
    fs::create_directory_symlink("..", dir_ + root + "/sub/loop");
  }
};

TEST_F(Tool, ImportsATreeThenShowsGetsAndFindsLikeTheLibrary) {
  makeTree("media");
  writeFile(dir_ + "media/locked.txt", "no access\n");
  fs::permissions(dir_ + "media/locked.txt", fs::perms::none);
  const bool lockedReadable = access((dir_ + "media/locked.txt").c_str(), R_OK) == 0;  // root
  ASSERT_EQ(run({"create", "cat.vd"}).status, 0);
  // An unreadable file is reported and skipped (/proc/self/mem is one for root as well).
  Result imported = run({"import", "cat.vd", "media", "/proc/self/mem", "--batch", "2"});
  EXPECT_EQ(imported.status, 3) << imported.err;
  EXPECT_NE(imported.err.find("import: cannot read /proc/self/mem: "), std::string::npos);
  EXPECT_EQ(imported.err.find("locked.txt") == std::string::npos, lockedReadable);
  const int files = lockedReadable ? 4 : 3;
  EXPECT_EQ(imported.out.rfind("imported " + std::to_string(files) + " files (", 0), 0u)
      << imported.out;
  EXPECT_NE(imported.out.find(lockedReadable ? ", 1 skipped, " : ", 2 skipped, "),
            std::string::npos);

  json listed = runJson({"ls", "cat.vd", "--json", "--sort", "name:desc"});
  ASSERT_EQ(listed.size(), static_cast<size_t>(files));
  EXPECT_EQ(listed[0]["name"], "photo.jpg");
  EXPECT_EQ(listed[0]["type"], "file");
  const int photo = listed[0]["id"];

  json shown = runJson({"show", "cat.vd", std::to_string(photo), "--json"});
  const json& e = shown["elements"];
  EXPECT_EQ(e["path"]["value"], "photo.jpg");
  EXPECT_EQ(e["mime"]["value"], "image/jpeg");
  EXPECT_EQ(e["camera"]["value"], "Acme Pixel 1");
  EXPECT_EQ(e["keywords"]["value"], "harbour; dusk");
  EXPECT_EQ(e["orientation"]["value"], 6);
  EXPECT_EQ(e["width"]["value"], 8);
  EXPECT_EQ(e["height"]["type"], "int4");
  EXPECT_EQ(e["taken"]["seconds"], static_cast<long long>(Time(2008, 3, 5, 14, 7, 9)));
  EXPECT_EQ(e["taken"]["value"], std::string(e["taken"]["value"]).substr(0, 19) + "Z");
  EXPECT_EQ(e["size"]["value"], photoWithMetadata().size());
  EXPECT_EQ(e["data"], json({{"type", "blob"},
                             {"location", "catalog"},
                             {"mime", "image/jpeg"},
                             {"length", photoWithMetadata().size()}}));
  EXPECT_EQ(e["thumbnail"]["mime"], "image/jpeg");
  Result text = run({"show", "cat.vd", std::to_string(photo)});
  EXPECT_NE(text.out.find("  camera        text   Acme Pixel 1\n"), std::string::npos) << text.out;

  // Blobs byte for byte, to a file and to standard output.
  ASSERT_EQ(run({"get", "cat.vd", std::to_string(photo), "data", "-o", "out.jpg"}).status, 0);
  EXPECT_EQ(readFile(dir_ + "out.jpg"), photoWithMetadata());
  EXPECT_EQ(run({"get", "cat.vd", std::to_string(photo), "thumbnail", "-o", "-"}).out, tinyJpeg());

  // find gives what the same filter built in C++ gives.
  const struct {
    std::string expression;
    std::function<Expression(Asset&)> condition;
    size_t count;
  } cases[] = {
      {"year(taken) = 2008 and camera ~ '%Acme%'",
       [](Asset& a) {
         a.element("taken") = Time(0LL);
         return (a.element("taken").year() == Expression(2008)) &&
                a.element("camera").like(String("%Acme%"));
       },
       1},
      {"not (mime = 'text/plain') or size < 12",
       [](Asset& a) {
         a.element("size") = 0LL;
         a.element("mime") = "";
         return (Expression(a.element("mime")) != Expression(String("text/plain"))) ||
                (Expression(a.element("size")) < Expression(12));
       },
       lockedReadable ? 3u : 2u},
      {"taken >= 2008-03-05 and taken < 2008-03-05T14:07:10 and path glob 'photo*'",
       [](Asset& a) {
         a.element("taken") = Time(0LL);
         Expression taken(a.element("taken"));
         return (taken >= Expression(Time(2008, 3, 5, 0, 0, 0))) &&
                (taken < Expression(Time(2008, 3, 5, 14, 7, 10))) &&
                a.element("path").glob(String("photo*"));
       },
       1},
      {"lower(name) = 'more.txt' or id in (" + std::to_string(photo) + ")",
       [photo](Asset& a) {
         return (a.element("name").lower() == Expression(String("more.txt"))) ||
                a.in(std::vector<int>{photo});
       },
       2},
  };
  for (const auto& c : cases) {
    std::vector<int> ids = findIds(c.expression);
    EXPECT_EQ(ids, libraryIds(c.condition)) << c.expression;
    EXPECT_EQ(ids.size(), c.count) << c.expression;
  }
  EXPECT_EQ(runJson({"find", "cat.vd", "size > 0", "--count", "--json"})["count"], files);

  // Index, set, unset, rm, scalar; info --json reports them.
  ASSERT_EQ(run({"index", "cat.vd", "file", "taken", "--desc"}).status, 0);
  ASSERT_EQ(run({"set", "cat.vd", std::to_string(photo), "rating", "5", "--int"}).status, 0);
  ASSERT_EQ(run({"unset", "cat.vd", std::to_string(photo), "keywords"}).status, 0);
  ASSERT_EQ(run({"rm", "cat.vd", std::to_string(listed[1]["id"].get<int>())}).status, 0);
  ASSERT_EQ(run({"scalar", "cat.vd", "owner", "it's me"}).status, 0);
  EXPECT_EQ(run({"get", "cat.vd", std::to_string(photo), "rating"}).out, "5\n");
  EXPECT_EQ(findIds("rating = 5 and keywords ~ '%'"), std::vector<int>{});
  json info = runJson({"info", "cat.vd", "--json"});
  EXPECT_EQ(info["types"], json::parse(R"([{"name":"file","storage":"collection","records":)" +
                                       std::to_string(files - 1) + "}]"));
  EXPECT_EQ(info["indexes"]["collection"][0]["element"], "taken");
  EXPECT_EQ(info["indexes"]["collection"][0]["flags"], 4);
  EXPECT_EQ(info["registry"], json::parse(R"(["owner","vd_dbid"])"));
  EXPECT_EQ(runJson({"scalar", "cat.vd", "owner", "--json"}), json({{"owner", "it's me"}}));
  EXPECT_NE(run({"dump-state", "cat.vd"}).out.find("<"), std::string::npos);
}

TEST_F(Tool, FailuresEndWithOneLineAndTheirExitStatus) {
  makeTree("media");
  ASSERT_EQ(run({"create", "cat.vd"}).status, 0);
  ASSERT_EQ(run({"import", "cat.vd", "media", "--link"}).status, 0);
  const std::string photo = std::to_string(findIds("name = 'photo.jpg'").at(0));
  fs::remove(dir_ + "media/photo.jpg");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;  // the whole of standard error when it ends in "\n"
  } cases[] = {
      {{"ls", "missing.vd"},
       1,
       "open missing.vd: status 30 (not found): the catalog's main file does not exist\n"},
      {{"show", "cat.vd", "9999"}, 1, "show 9999: status 30 (not found): no record has id 9999\n"},
      {{"get", "cat.vd", photo, "nothing"}, 1, "status 30 (not found): record "},
      {{"get", "cat.vd", photo, "data"}, 1, "status 33 (blob unusable"},
      {{"set", "cat.vd", photo, "rating", "five", "--int"}, 2, "\"five\" is not a 32-bit number"},
      {{"set", "cat.vd", photo, "when", "yesterday", "--time"}, 2, "is not a time"},
      {{"find", "cat.vd", "size >> 3"}, 2, "find: syntax error at position 7: expected a number"},
      {{"create", "cat.vd"}, 1, "create cat.vd: status 18 ("},
      {{"show", "cat.vd", "abc"}, 2, ""},
      {{"frobnicate"}, 2, ""},
      {{"import", "cat.vd", "nowhere"}, 2, "import: no such file or directory: nowhere\n"},
      {{"ls", "cat.vd", "--sort", "name:sideways"}, 2, "--sort takes"},
      {{"unindex", "cat.vd", "file", "taken"}, 1, "\"taken\" is not indexed"},
  };
  for (const auto& c : cases) {
    Result r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
    std::string message = c.message;
    if (!message.empty() && message.back() == '\n')
      EXPECT_EQ(r.err, message);
    else
      EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("terminate"), std::string::npos);
    EXPECT_LT(std::count(r.err.begin(), r.err.end(), '\n'), 4) << r.err;
  }
  // rm is all or none.
  EXPECT_EQ(run({"rm", "cat.vd", photo, "9999"}).status, 1);
  EXPECT_EQ(run({"show", "cat.vd", photo}).status, 0);
  // An import never takes in the catalog's own files.
  EXPECT_EQ(run({"import", "cat.vd", "."}).status, 0);
  EXPECT_EQ(run({"find", "cat.vd", "name glob 'cat.v*'", "--count"}).out, "0\n");
  EXPECT_EQ(run({"--help"}).status, 0);
  EXPECT_NE(run({"find", "--help"}).out.find("--count"), std::string::npos);
}

TEST_F(Tool, AReadOnlyCatalogIsReadThroughACopyAndNeverWritten) {
  makeTree("media");
  ASSERT_EQ(run({"create", "cat.vd"}).status, 0);
  ASSERT_EQ(run({"import", "cat.vd", "media"}).status, 0);
  fs::permissions(dir_ + "cat.vd", fs::perms::owner_write, fs::perm_options::remove);
  const std::string before = readFile(dir_ + "cat.vd") + readFile(dir_ + "cat.vm");
  Result listed = run({"ls", "cat.vd"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 3);
  EXPECT_EQ(listed.err, "vendrithane: cat.vd is read-only: reading a temporary copy\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"set", "cat.vd", "2", "title", "x"},
        {"rm", "cat.vd", "2"},
        {"scalar", "cat.vd", "k", "v"},
        {"import", "cat.vd", "media"},
        {"index", "cat.vd", "file", "size"}}) {
    Result r = run(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.err,
              "open cat.vd: status 81 (read-only): the catalog is read-only; nothing was "
              "changed\n");
  }
  EXPECT_EQ(readFile(dir_ + "cat.vd") + readFile(dir_ + "cat.vm"), before);
}

TEST_F(Tool, AnInterruptedImportKeepsItsCommittedBatchesWhole) {
  fs::create_directory(dir_ + "many");
  for (int i = 0; i < 4000; ++i)
    writeFile(dir_ + "many/f" + std::to_string(10000 + i), std::string(100 + i % 50, 'x'));
  ASSERT_EQ(run({"create", "cat.vd"}).status, 0);
  const auto empty = fs::file_size(dir_ + "cat.vd");
  pid_t pid = start({"import", "cat.vd", "many", "--batch", "50"});
  // Interrupted once the first batch is in the main file.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (fs::file_size(dir_ + "cat.vd") == empty && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  kill(pid, SIGINT);
  Result r = wait(pid);
  ASSERT_EQ(r.status, 130) << r.out << r.err;
  size_t at = r.err.find(" was rolled back, ");
  ASSERT_NE(at, std::string::npos) << r.err;
  const int kept = std::stoi(r.err.substr(at + 18));
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, 4000);
  EXPECT_EQ(kept % 50, 0);
  // The catalog opens, holds exactly the kept records, each whole.
  json records = runJson({"ls", "cat.vd", "--json"});
  ASSERT_EQ(records.size(), static_cast<size_t>(kept));
  for (int i : {0, kept - 1}) {
    json e = runJson({"show", "cat.vd", std::to_string(records[i]["id"].get<int>()), "--json"});
    EXPECT_EQ(e["elements"]["data"]["length"], e["elements"]["size"]["value"]);
    EXPECT_EQ(e["elements"]["name"]["value"], "f" + std::to_string(10000 + i));
  }
}

}  // namespace
}  // namespace Vendrithane
}  // namespace KESTRIN
