// The health check of a package just put in place, and its rollback when the
// check fails.
#include "app/install/HealthCheck.h"
#include "app/install/PackageJournal.h"
#include "app/install/PackageTransaction.h"
#include "app/run/TForm1.h"
#include "base/ControlEscape.h"
#include "base/Errors.h"

namespace krevo::app {

bool TForm1::PassesHealthCheck(const std::string& name, const base::TBlake2b512::Digest* digest) {
  const std::vector<std::string> command = SplitCheckCommand(FConfig.HealthCheck);
  if (command.empty()) return true;
  return PassesCheck(name, digest, command[0], {command.begin() + 1, command.end()});
}

bool TForm1::PassesCheck(const std::string& name, const base::TBlake2b512::Digest* digest,
                         const std::string& path, const std::vector<std::string>& args) {
  const base::UniqueFd root = OpenRootFolder();
  THealthCheckEnd check;
  if (root) {
    host_.ShowNote("Checking the installation after " + name);
    host_.ProcessMessages();
    check = RunHealthCheck(root.get(), FRootFolder, path, args, FConfig.HealthCheckTimeout,
                           CheckUser(), stopFd_);
    if (check.passed) return true;
    // A stop leaves the package in place, unchecked and not recorded as
    // installed: the next run with an index takes and checks it again.
    if (check.stopped) throw base::EAbort();
  }
  std::string failure = "Health check of " + name +
                        " failed: " + base::EscapeControlCharacters(path) + " " +
                        (root ? check.failure : "cannot be run: the root folder cannot be opened");
  if (!check.output.empty()) failure += " (its output: " + check.output + ")";
  // The same journaled rollback as --rollback; a failure of it ends the run,
  // and the journal is finished by the next one.
  if (!root) throw ETransactionError(failure + "; it cannot be rolled back.");
  std::string rolledBack;
  try {
    rolledBack = RollBackLastPackage(root.get());
  } catch (const ETransactionError& e) {
    throw ETransactionError(failure + "; it could not be rolled back: " + e.what());
  }
  RunRecord.NoteRecovery(rolledBack);
  failure += "; rolled back.";
  RunRecord.NoteHealthCheck(failure);
  UpdateLog.AppendLine(failure);
  FExtractedCount -= packageExtracted_;
  FReplacedCount -= packageReplaced_;
  if (const std::optional<std::string> kept = trust_.RecordBad(FRootFolder, name, digest))
    UpdateLog.AppendLine(*kept);
  ShowPackageFailure(failure);
  return false;
}

}  // namespace krevo::app
