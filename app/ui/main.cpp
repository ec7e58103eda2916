// krevo-updater: brings the installation beside it up to date.
#include <clocale>
#include <cstring>
#include <iostream>

#include "app/report/StatusFile.h"
#include "app/ui/ConsoleHost.h"
#include "app/ui/FltkHost.h"
#include "base/Paths.h"
#include "base/Version.h"

namespace {

constexpr const char* kUsage =
    "Usage: krevo-updater [--console [--ignore-phasing] | --rollback | --status [--json]]\n"
    "\n"
    "Brings the Krevo installation up to date from the update server: checks that\n"
    "krevo.exe is not in use, downloads the packages newer than the last update and\n"
    "installs them into the root folder named in config.ini beside this program,\n"
    "recording every file in updates.log there.\n"
    "\n"
    "  --console   run without a window even where a display is available\n"
    "  --ignore-phasing  take every package of the package index at once, however\n"
    "              few machines its phase lets take it yet (console mode)\n"
    "  --rollback  put back the files the last installed package replaced and\n"
    "              remove those it added (console mode); exit status 1 when\n"
    "              there is nothing to roll back\n"
    "  --status    show how the last run ended, from updates-status.json in the\n"
    "              root folder (exit status 1 when there is none yet); with\n"
    "              --json, the file as it stands. Writes nothing\n"
    "  -h, --help  show this text\n"
    "  --version   show the version\n"
    "\n"
    "ReadTimeout=SECONDS in the [Updater] section of config.ini ends a run whose\n"
    "server stays silent that long (default 60; 0: no limit), RunTimeout=SECONDS a\n"
    "run that takes longer (default 7200). SIGTERM or SIGINT\n"
    "stops a run; console mode then exits with 128 + the signal.\n"
    "Sources=ftp://HOST[:PORT], ftps://HOST[:PORT], file:///PATH there lists the\n"
    "update sources, tried in order until one can be reached and listed.\n"
    "MetricsFile=PATH there writes the last run's figures in the Prometheus text\n"
    "format after every run. Under systemd the run's summary also goes to the\n"
    "journal with the fields KREVO_OUTCOME, KREVO_EXIT_STATUS and KREVO_PACKAGE.\n"
    "PhaseGroup=NAME there gives every machine of that name the same place in\n"
    "phased releases; Phasing=no takes every package at once.\n"
    "\n"
    "Without a display the program runs in console mode. Exit status in console\n"
    "mode: 0 the run reached its end, 1 an error ended it, 2 krevo.exe is in use\n"
    "or missing, 3 the update server could not be reached, 4 the run reached its\n"
    "end, but a package or an entry failed.\n";

}  // namespace

int main(int argc, char** argv) {
  bool console = false, rollback = false, status = false, json = false, ignorePhasing = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--console") == 0) {
      console = true;
    } else if (std::strcmp(argv[i], "--ignore-phasing") == 0) {
      ignorePhasing = true;
    } else if (std::strcmp(argv[i], "--rollback") == 0) {
      rollback = true;
    } else if (std::strcmp(argv[i], "--status") == 0) {
      status = true;
    } else if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "krevo-updater " << krevo::base::OwnFileVersion() << '\n';
      return 0;
    } else {
      std::cerr << "krevo-updater: unknown argument '" << argv[i] << "'\n\n" << kUsage;
      return 64;
    }
  }
  if (json && !status) {
    std::cerr << "krevo-updater: --json goes with --status\n\n" << kUsage;
    return 64;
  }
  if (ignorePhasing && (rollback || status)) {
    std::cerr << "krevo-updater: --ignore-phasing goes with an update run\n\n" << kUsage;
    return 64;
  }
  if (status && (rollback || console)) {
    std::cerr << "krevo-updater: --status goes alone\n\n" << kUsage;
    return 64;
  }
  std::setlocale(LC_ALL, "");
  const std::string executable = krevo::base::ExecutablePath();
  const std::string title = krevo::base::ApplicationTitle(executable);
  const std::string folder = krevo::base::ExtractFilePath(executable);
  if (status) return krevo::app::PrintStatusFile(folder, json, std::cout, std::cerr);
  if (rollback) return krevo::app::TConsoleHost().RollBack(title, folder);
  if (console || ignorePhasing || !krevo::app::TFltkHost::DisplayAvailable()) {
    krevo::app::TConsoleHost host;
    host.IgnorePhasing = ignorePhasing;
    return host.Run(title, folder);
  }
  return krevo::app::TFltkHost().Run(title, folder);
}
