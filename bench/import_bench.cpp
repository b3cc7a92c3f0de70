// The command-line tool's import against a raw baseline. 20,000 generated files of 4 KB in
// a temporary directory; the tool (run as a process) imports them with --batch 500. The
// baseline reads the same files, asks libmagic for their type as the tool does, and inserts
// each file's bytes with one prepared INSERT into a plain table of a plain SQLite file, in
// transactions of 500. Both report files per second; the tool's counter "of_raw" is its
// rate over the baseline's (goal: at least 0.5).
#include <benchmark/benchmark.h>
#include <magic.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kFiles = 20000;
constexpr int kBatch = 500;
constexpr size_t kFileSize = 4096;

// The temporary directory with the generated files (made at first use, removed at exit).
struct Tree {
  Tree() {
    char templ[] = "/tmp/vdbench-import-XXXXXX";
    if (mkdtemp(templ) == nullptr) std::abort();
    dir = std::string(templ) + "/";
    fs::create_directory(dir + "files");
    std::string text;
    for (int i = 0; i < kFiles; ++i) {
      text.clear();
      for (int line = 0; text.size() < kFileSize; ++line)
        text += "file " + std::to_string(i) + " line " + std::to_string(line) + " of the sample\n";
      text.resize(kFileSize);
      std::ofstream(dir + "files/f" + std::to_string(100000 + i), std::ios::binary) << text;
    }
  }
  ~Tree() { fs::remove_all(dir); }
  std::string dir;
};

Tree& tree() {
  static Tree t;
  return t;
}

double g_rawRate = 0;  // files per second of the baseline, once it ran

void RawImport(benchmark::State& state) {
  const std::string dir = tree().dir;
  magic_t cookie = magic_open(MAGIC_MIME_TYPE);
  magic_load(cookie, nullptr);
  for (auto _ : state) {
    fs::remove(dir + "raw.db");
    sqlite3* db = nullptr;
    sqlite3_open((dir + "raw.db").c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE files (id INTEGER PRIMARY KEY, name TEXT, mime TEXT, data BLOB);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO files (name, mime, data) VALUES (?, ?, ?);", -1, &insert,
                       nullptr);
    auto start = std::chrono::steady_clock::now();
    int inBatch = 0;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir + "files")) files.push_back(entry.path());
    for (const fs::path& file : files) {
      if (inBatch == 0) sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr);
      std::ifstream in(file, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      const char* mime = magic_buffer(cookie, bytes.data(), bytes.size());
      const std::string name = file.filename().string();
      sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 2, mime ? mime : "", -1, SQLITE_TRANSIENT);
      sqlite3_bind_blob(insert, 3, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
      if (++inBatch == kBatch) {
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
        inBatch = 0;
      }
    }
    if (inBatch > 0) sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    g_rawRate = kFiles / seconds;
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
  magic_close(cookie);
  state.counters["files_per_s"] = g_rawRate;
}

// Runs the tool with `args` in the tree's directory; its exit status.
int tool(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(tree().dir.c_str()) != 0) _exit(120);
    std::vector<std::string> all{VENDRITHANE_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(121);
    execv(argv[0], argv.data());
    _exit(122);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void ToolImport(benchmark::State& state) {
  tree();
  double rate = 0;
  for (auto _ : state) {
    if (tool({"create", "cat.vd", "--replace"}) != 0) state.SkipWithError("create failed");
    auto start = std::chrono::steady_clock::now();
    if (tool({"import", "cat.vd", "files", "--batch", std::to_string(kBatch)}) != 0)
      state.SkipWithError("import failed");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    rate = kFiles / seconds;
  }
  state.counters["files_per_s"] = rate;
  if (g_rawRate > 0) state.counters["of_raw"] = rate / g_rawRate;
}

BENCHMARK(RawImport)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(ToolImport)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
