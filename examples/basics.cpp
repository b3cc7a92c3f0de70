// A small host program: makes a catalog in a scratch directory, declares a record type,
// stores a record and reads it back, then closes and removes the catalog. Run it with
// ./run-example.sh [title].
#include <vendrithane/vendrithane.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

using namespace KESTRIN::Vendrithane;

namespace {

int fail(const char* what, int status) {
  std::fprintf(stderr, "%s: status %d\n", what, status);
  return 1;
}

int run(const std::string& dir, const char* titleText) {
  try {
    Node node("photos", dir.c_str());
    if (int s = node.create()) return fail("create", s);
    if (int s = node.open()) return fail("open", s);
    std::printf("catalog %s%s opened, schema version %s\n", node.path(false).buffer(),
                node.name().buffer(), node.version().buffer());

    if (int s = node.assetDeclare("photo", false)) return fail("declare", s);
    Asset photo = node.asset("photo", false);
    photo.element("title") = titleText;
    photo.element("rating") = 4;
    photo.element("taken") = Time(2008, 3, 5, 14, 7, 9);  // local wall-clock time
    if (int s = photo.store()) return fail("store", s);
    const int id = photo.id();

    Asset loaded = node.assetLoad(id, "photo");
    String title = loaded.element("title");
    Time taken(loaded.element("taken"));
    std::printf("record %d: \"%s\", rating %d, taken %s (day %d of the year)\n", id, title.buffer(),
                static_cast<int>(loaded.element("rating")), taken.toString().buffer(),
                taken.dayOfYear());

    node.scalarStore("lastExample", Time::currentTime());
    String when;
    node.scalarLoad("lastExample", when);
    std::printf("registry value lastExample = %s\n", when.buffer());

    if (int s = node.close()) return fail("close", s);
    if (int s = node.remove()) return fail("remove", s);
  } catch (Status s) {
    return fail("exception", s);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  char scratch[] = "/tmp/vendrithane-example-XXXXXX";
  if (mkdtemp(scratch) == nullptr) return fail("scratch directory", -1);
  const int rc = run(std::string(scratch) + "/", argc > 1 ? argv[1] : "Harbour at dusk");
  const std::string cleanup = std::string("rm -rf '") + scratch + "'";
  if (system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", scratch);
  return rc;
}
