// What every command of the tool shares: the catalog named on the command line, opened for
// reading (a read-only catalog through a temporary copy) or for writing, the failures that
// end a command with its exit status, and the texts of types, times and record summaries.
#ifndef VENDRITHANE_CLI_COMMON_H
#define VENDRITHANE_CLI_COMMON_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <vendrithane/vendrithane.h>

namespace CLI {
class App;
}

namespace vdcli {

namespace vd = KESTRIN::Vendrithane;

// Exit statuses.
constexpr int kExitFailure = 1;  // the library failed
constexpr int kExitUsage = 2;    // bad arguments
constexpr int kExitPartial = 3;  // an import skipped files
constexpr int kExitInterrupted = 130;

// A failure of the library: "OPERATION: status N (TEXT): MEANING", exit 1.
struct Failure {
  int status;
  std::string meaning;
  std::string operation = "";  // when not the command's own operation
};

// Bad arguments: the message alone, exit 2.
struct UsageError {
  std::string message;
};

// State shared by the commands: the global options, the command chosen and the operation
// a failure is reported against.
struct Context {
  std::string blobDir;       // --blob-dir
  bool json = false;         // --json
  std::string operation;     // e.g. "show 12"
  std::function<int()> run;  // the chosen command
};

// The catalog a command works on. Reading opens a read-only catalog as a temporary copy and
// says so on standard error; writing refuses it with status 81.
class Catalog {
 public:
  enum Use { kRead, kWrite };
  Catalog(const Context& context, const std::string& path, Use use);
  ~Catalog();
  vd::Node& node() { return *node_; }
  const std::string& path() const { return path_; }

  // Whether `type` names a declared own-table type (else it is a collection type).
  bool ownTable(const std::string& type);
  // The record of `id` (its own table found through what the id names); Failure 30 when
  // no record has it.
  vd::Asset load(int id);

 private:
  std::string path_;
  std::unique_ptr<vd::Node> node_;
};

// The node of a catalog path ("dir/photos.vd", or without the extension), not opened.
std::unique_ptr<vd::Node> catalogNode(const Context& context, const std::string& path);

// The paths of the catalog's main file and blob file.
std::vector<std::string> catalogFiles(vd::Node& node);

// Throws Failure{status, meaning} unless status is 0.
void check(int status, const std::string& meaning);

const char* typeText(vd::Type type);
// ISO 8601 in UTC ("2008-03-05T13:07:09Z").
std::string isoTime(long long seconds);
// A local time written as 2008-03-05 or 2008-03-05T14:07:09, or decimal seconds; false
// when the text is neither.
bool parseTime(const std::string& text, long long* seconds);
// A record's label: its "name" element, else its first text element, else "".
std::string recordLabel(vd::Asset& asset);
// A blob's location as a word ("catalog", "file", ...).
const char* locationText(vd::Blob::Location location);

// Command groups (each file adds its subcommands).
void addCatalogCommands(CLI::App& app, Context& context);
void addRecordCommands(CLI::App& app, Context& context);
void addImportCommand(CLI::App& app, Context& context);

}  // namespace vdcli

#endif  // VENDRITHANE_CLI_COMMON_H
