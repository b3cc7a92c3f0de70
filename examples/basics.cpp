// A small host program: builds texts and times with the library's value types and prints
// what it made. Run it with ./run-example.sh.
#include <vendrithane/vendrithane.h>

#include <cstdio>
#include <cstdlib>

using namespace KESTRIN::Vendrithane;

int main(int argc, char** argv) {
  try {
    String title(argc > 1 ? argv[1] : "Harbour at dusk");
    String xml = String("<title>") + title.toXML() + "</title>";
    std::printf("record text: %s (%u bytes)\n", xml.buffer(), xml.length());

    Time shot(2008, 3, 5, 14, 7, 9);
    std::printf("taken: %s, day %d of the year, weekday %d\n", shot.toString().buffer(),
                shot.dayOfYear(), shot.dayOfWeek());

    String stamp;
    stamp.format("%lld", static_cast<long long>(shot));
    std::printf("stored as: %s\n", stamp.buffer());

    Time now = Time::currentTime();
    std::printf("now: %s\n", now.toString().buffer());

    char16_t* wide = title.altEncode(String::UTF16, 0);
    String back(wide);
    std::free(wide);
    std::printf("UTF-16 round trip %s\n", back == title ? "ok" : "FAILED");
    return back == title ? 0 : 1;
  } catch (Status s) {
    std::fprintf(stderr, "status %d\n", static_cast<int>(s));
    return 1;
  }
}
