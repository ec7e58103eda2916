// The package index in the update run: accepted or refused before anything
// is downloaded, and then the list of what the run installs, in the index's
// name order, with the index's sizes and hashes.
#include <cstdio>

#include "app/run/TForm1.h"
#include "app/sources/PackageListing.h"
#include "base/Dialogs.h"

namespace krevo::app {

std::optional<std::uint64_t> TForm1::AcceptedIndexSequence() const {
  const TPackageIndex* index = trust_.Index();
  if (!index) return std::nullopt;
  return index->Sequence;
}

bool TForm1::IndexAccepted() {
  if (indexRefusal_) return RefuseIndex(*indexRefusal_);
  const TPackageIndex* index = trust_.Index();
  if (!index) return true;
  UpdateLog.AppendLine("Package index " + std::to_string(index->Sequence) + " (channel " +
                       index->Channel + ", expires " + index->Expires + ") accepted.");
  for (const std::string& offer : trust_.IndexOffers()) UpdateLog.AppendLine(offer);
  for (const std::string& name : trust_.NotIndexed(ListBox1.Lines()))
    UpdateLog.AppendLine("Passed over " + name + ": it is not in the package index.");
  ListBox1.Clear();
  for (const std::string& line : trust_.IndexLines()) ListBox1.Add(line);
  // A package held back is no failure: said, and kept apart from those the
  // machine lacks for another reason.
  for (const THeldPackage& held : trust_.Held()) {
    // Hundredths, without the zeros that say nothing: 37.2, 37.25, 37.
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.2f", held.place);
    std::string place = digits;
    place.erase(place.find_last_not_of('0') + 1);
    if (place.back() == '.') place.pop_back();
    UpdateLog.AppendLine("Held back " + held.name + ": phased to " + std::to_string(held.phase) +
                         "% (this machine: " + place + "%).");
    RunRecord.AddHeldByPhase(held.name);
    for (int i = 0; i < ListBox1.Count(); ++i)
      if (const auto listed = ReadListingLine(ListBox1[i]); listed && listed->Name == held.name)
        ListBox1.Put(i, ListBox1[i] + " ... held back");
  }
  return true;
}

bool TForm1::RefuseIndex(const std::string& reason) {
  // Logged first: the record stays even if nobody answers the dialog.
  UpdateLog.AppendLine(reason);
  base::Dialogs().MessageDlg(reason, base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
  outcome_ = TRunOutcome::PackageFailed;
  Close();
  return false;
}

}  // namespace krevo::app
