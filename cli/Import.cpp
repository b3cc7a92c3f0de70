// The import command: every regular file under the given paths becomes one record, in
// batches of N per transaction, with a progress bar on a terminal; Ctrl-C rolls back the
// open batch and keeps the committed ones.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "Common.h"
#include "MediaInfo.h"

namespace vdcli {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

volatile sig_atomic_t g_interrupted = 0;  // set by SIGINT; the import stops between files

extern "C" void onInterrupt(int) {
  g_interrupted = 1;
}

struct ImportOptions {
  std::string catalog, type = "file";
  std::vector<std::string> paths;
  bool link = false, all = false;
  int batch = 500;
};

struct Entry {
  fs::path file;
  std::string relative;  // to the argument it was found under
  unsigned long long size;
};

// Collects the regular files below `dir` (symbolic links not followed, hidden names skipped
// unless `all`); a directory that cannot be read is reported and counted as skipped.
void walk(const fs::path& root, const fs::path& dir, bool all, std::vector<Entry>* out,
          int* skipped) {
  std::error_code error;
  fs::directory_iterator it(dir, error), end;
  if (error) {
    std::cerr << "import: cannot read " << dir.string() << ": " << error.message() << "\n";
    ++*skipped;
    return;
  }
  std::vector<fs::directory_entry> entries;
  for (; it != end; it.increment(error)) {
    if (error) break;
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end());
  for (const fs::directory_entry& entry : entries) {
    const fs::path& p = entry.path();
    if (!all && p.filename().string().rfind('.', 0) == 0) continue;
    fs::file_status status = fs::symlink_status(p, error);
    if (error || fs::is_symlink(status)) continue;
    if (fs::is_directory(status)) {
      walk(root, p, all, out, skipped);
    } else if (fs::is_regular_file(status)) {
      auto size = fs::file_size(p, error);
      out->push_back({p, fs::relative(p, root, error).generic_string(), error ? 0 : size});
    }
  }
}

std::string amount(double bytes) {
  const char* units[] = {"B", "KB", "MB", "GB", "TB"};
  int u = 0;
  while (bytes >= 1024 && u < 4) {
    bytes /= 1024;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return text;
}

// The progress bar on standard error when it is a terminal, redrawn at most ten times a
// second.
class Progress {
 public:
  Progress(size_t files, unsigned long long bytes)
      : shown_(isatty(STDERR_FILENO) != 0), files_(files), bytes_(bytes) {}
  void update(size_t files, unsigned long long bytes, bool force = false) {
    if (!shown_) return;
    auto now = Clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double rate = seconds > 0 ? files / seconds : 0;
    double left = bytes > 0 && seconds > 0 ? (bytes_ - bytes) * seconds / bytes : 0;
    int width = 24, filled = files_ ? static_cast<int>(width * files / files_) : width;
    char line[200];
    std::snprintf(line, sizeof line, "\r[%-*s] %zu/%zu files  %s/%s  %.0f files/s  %d:%02d left ",
                  width, std::string(static_cast<size_t>(filled), '#').c_str(), files, files_,
                  amount(static_cast<double>(bytes)).c_str(),
                  amount(static_cast<double>(bytes_)).c_str(), rate, static_cast<int>(left) / 60,
                  static_cast<int>(left) % 60);
    std::cerr << line << std::flush;
  }
  void finish() {
    if (shown_) std::cerr << "\r\033[K" << std::flush;
  }

 private:
  bool shown_;
  size_t files_;
  unsigned long long bytes_;
  Clock::time_point start_ = Clock::now(), last_{};
};

vd::Time modified(const fs::path& file) {
  std::error_code error;
  auto when = fs::last_write_time(file, error);
  if (error) return vd::Time(0LL);
  auto system = when - fs::file_time_type::clock::now() + std::chrono::system_clock::now();
  return vd::Time(static_cast<long long>(
      std::chrono::round<std::chrono::seconds>(system.time_since_epoch()).count()));
}

// Exif "YYYY:MM:DD HH:MM:SS" as a local time.
bool exifTime(const std::string& text, vd::Time* when) {
  int y, mo, d, h, mi, s;
  if (std::sscanf(text.c_str(), "%4d:%2d:%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6 ||
      y < 1 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
    return false;
  *when = vd::Time(y, mo, d, h, mi, s);
  return true;
}

// Reads a whole file into *bytes: 0, or the error number of the failure.
int readFile(const fs::path& file, std::string* bytes) {
  errno = 0;
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) return errno != 0 ? errno : EIO;
  char block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, in)) > 0) bytes->append(block, n);
  int cause = std::ferror(in) ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(in);
  return cause;
}

// Fills a new record with the file's elements.
void describe(vd::Asset& record, const Entry& entry, std::string& bytes, bool link) {
  auto* p = reinterpret_cast<unsigned char*>(bytes.data());
  std::string mime = mimeType(p, bytes.size());
  record.element("name") = vd::String(entry.file.filename().string().c_str());
  record.element("path") = vd::String(entry.relative.c_str());
  record.element("size") = static_cast<long long>(bytes.size());
  record.element("mime") = vd::String(mime.c_str());
  record.element("mtime") = modified(entry.file);
  vd::Blob data;
  if (link) {
    std::error_code error;
    data.url(vd::String(fs::absolute(entry.file, error).string().c_str()));
  } else {
    check(data.set(p, bytes.size(), vd::Blob::LocationCatalog), "the blob could not be made");
  }
  data.mime(vd::String(mime.c_str()));
  record.element("data") = data;
  if (mime.rfind("image/", 0) != 0) return;
  ImageInfo image = imageInfo(p, bytes.size());
  vd::Time taken;
  if (image.taken && exifTime(*image.taken, &taken)) record.element("taken") = taken;
  if (image.camera) record.element("camera") = vd::String(image.camera->c_str());
  if (image.width) record.element("width") = *image.width;
  if (image.height) record.element("height") = *image.height;
  if (image.orientation) record.element("orientation") = *image.orientation;
  if (image.keywords) record.element("keywords") = vd::String(image.keywords->c_str());
  if (!image.thumbnail.empty()) {
    vd::Blob thumb;
    check(thumb.set(image.thumbnail.data(), image.thumbnail.size(), vd::Blob::LocationCatalog),
          "the thumbnail blob could not be made");
    thumb.mime("image/jpeg");
    record.element("thumbnail") = thumb;
  }
}

int import(Context& context, const ImportOptions& o) {
  if (o.batch < 1) throw UsageError{"import: --batch must be at least 1"};
  std::vector<Entry> entries;
  int skipped = 0;
  for (const std::string& arg : o.paths) {
    std::error_code error;
    fs::path p(arg);
    fs::file_status status = fs::status(p, error);
    if (error || !fs::exists(status)) throw UsageError{"import: no such file or directory: " + arg};
    if (fs::is_directory(status))
      walk(p, p, o.all, &entries, &skipped);
    else if (fs::is_regular_file(status))
      entries.push_back({p, p.filename().string(), fs::file_size(p, error)});
  }
  Catalog catalog(context, o.catalog, Catalog::kWrite);
  vd::Node& node = catalog.node();
  bool inCollection = !catalog.ownTable(o.type);
  // The catalog's own files (and the engine's journals beside them) are never imported.
  std::vector<std::string> own;
  for (const std::string& file : catalogFiles(node)) {
    std::error_code error;
    own.push_back(fs::weakly_canonical(file, error).string());
  }
  auto isOwn = [&own](const fs::path& file) {
    std::error_code error;
    const std::string path = fs::weakly_canonical(file, error).string();
    for (const std::string& o : own)
      if (path.compare(0, o.size(), o) == 0) return true;
    return false;
  };
  entries.erase(
      std::remove_if(entries.begin(), entries.end(), [&](const Entry& e) { return isOwn(e.file); }),
      entries.end());
  unsigned long long total = 0;
  for (const Entry& e : entries) total += e.size;

  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  auto start = Clock::now();
  Progress progress(entries.size(), total);
  size_t done = 0, kept = 0, batches = 0, inBatch = 0;
  unsigned long long bytesDone = 0, bytesKept = 0, bytesInBatch = 0;
  bool open = false;
  auto rollback = [&] {
    if (!open) return;
    node.transactionRollback();
    open = false;
  };
  try {
    for (const Entry& entry : entries) {
      if (g_interrupted) break;
      std::string bytes;
      int cause = readFile(entry.file, &bytes);
      if (cause != 0) {
        progress.finish();
        std::cerr << "import: cannot read " << entry.file.string() << ": " << std::strerror(cause)
                  << "; skipped\n";
        ++skipped;
        continue;
      }
      if (!open) {
        check(node.transactionBegin(), "the transaction could not begin");
        open = true;
      }
      vd::Asset record = node.asset(o.type.c_str(), inCollection);
      describe(record, entry, bytes, o.link);
      check(record.store(), "storing " + entry.file.string() + " failed");
      ++done;
      ++inBatch;
      bytesDone += bytes.size();
      bytesInBatch += bytes.size();
      if (inBatch == static_cast<size_t>(o.batch)) {
        open = false;
        check(node.transactionCommit(), "a batch could not be committed");
        kept += inBatch;
        bytesKept += bytesInBatch;
        ++batches;
        inBatch = 0;
        bytesInBatch = 0;
      }
      progress.update(done, bytesDone);
    }
    if (g_interrupted) {
      rollback();
      progress.finish();
      std::cerr << "import: interrupted; the open batch of " << inBatch
                << " files was rolled back, " << kept << " files in " << batches
                << " batches are kept\n";
      return kExitInterrupted;
    }
    if (open) {
      open = false;
      check(node.transactionCommit(), "the last batch could not be committed");
      kept += inBatch;
      bytesKept += bytesInBatch;
    }
  } catch (...) {
    rollback();
    progress.finish();
    std::cerr << "import: " << kept << " files in committed batches are kept\n";
    throw;
  }
  progress.finish();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("imported %zu files (%s), %d skipped, %.1f s\n", kept,
              amount(static_cast<double>(bytesKept)).c_str(), skipped, seconds);
  return skipped > 0 ? kExitPartial : 0;
}

}  // namespace

void addImportCommand(CLI::App& app, Context& context) {
  auto o = std::make_shared<ImportOptions>();
  CLI::App* sub = app.add_subcommand("import", "Import files as records (one per file)");
  sub->add_option("CATALOG", o->catalog, "the catalog's main file")->required();
  sub->add_option("PATH", o->paths, "files and directories (searched recursively)")->required();
  sub->add_option("--type", o->type, "the records' type (default: file, a collection type)");
  sub->add_flag("--link", o->link, "keep each file's path instead of its bytes");
  sub->add_option("--batch", o->batch, "files per transaction (default 500)");
  sub->add_flag("--all", o->all, "include hidden files and directories");
  sub->callback([&context, o] {
    context.operation = "import " + o->catalog;
    context.run = [&context, o] { return import(context, *o); };
  });
}

}  // namespace vdcli
