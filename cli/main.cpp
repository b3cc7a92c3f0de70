// vendrithane: looks inside catalogs and changes them from a shell. Exit statuses: 0 done,
// 1 the library failed (one line naming the operation and the status), 2 bad arguments,
// 3 an import skipped files, 130 interrupted.
#include <CLI/CLI.hpp>
#include <iostream>

#include "Common.h"

int main(int argc, char** argv) {
  using namespace vdcli;
  CLI::App app{"vendrithane: look inside media catalogs and change them"};
  app.require_subcommand(1);
  app.fallthrough();
  Context context;
  app.add_option("--blob-dir", context.blobDir,
                 "directory of the blob file (default: beside the main file)");
  addCatalogCommands(app, context);
  addImportCommand(app, context);
  addRecordCommands(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  auto report = [&](const std::string& operation, int status, const std::string& meaning) {
    std::cerr << operation << ": status " << status << " (" << vd::statusText(status)
              << "): " << meaning << "\n";
    return kExitFailure;
  };
  try {
    return context.run();
  } catch (const Failure& f) {
    return report(f.operation.empty() ? context.operation : f.operation, f.status, f.meaning);
  } catch (const UsageError& e) {
    std::cerr << e.message << "\n";
    return kExitUsage;
  } catch (vd::Status s) {
    return report(context.operation, s, "the operation failed");
  } catch (const std::exception& e) {
    std::cerr << context.operation << ": " << e.what() << "\n";
    return kExitFailure;
  }
}
