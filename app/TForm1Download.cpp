// The download run: each package newer than the last update is downloaded
// into the temporary folder and extracted below the root folder.
#include "app/PackageListing.h"
#include "app/TForm1.h"
#include "base/Dialogs.h"
#include "base/FileSystem.h"
#include "base/Paths.h"

namespace krevo::app {

void TForm1::Button1Click(const TButton* Sender) {
  FExtractedCount = 0;
  FPackageCount = 0;
  host_.SetWaitCursor(true);
  try {
    NetFTP1.OpenSession(true, -1);
  } catch (const std::exception&) {
    host_.SetWaitCursor(false);
    if (StopRequested()) throw;  // a stop, not a server that cannot be reached
    base::Dialogs().MessageDlg("Failed to connect to FTP server " + NetFTP1.Host() + ".",
                               base::TMsgDlgType::mtError, base::MakeButtons({base::mbOK}));
    outcome_ = TRunOutcome::ConnectFailed;
    return;
  }
  NetFTP1.EnterDirectory("krevo");
  NetFTP1.EnterDirectory("updates");
  const bool normalRun = Sender == &Button1;
  const int start = normalRun ? 0 : ListBox1.Count() - 1;

  // The bar's range is the first package's size, whichever line is taken.
  ProgressBar1.SetMax(ListingSize(ListBox1[0]));
  ProgressBar1.SetPosition(0);
  host_.ProcessMessages();
  for (int i = start; i < ListBox1.Count(); ++i) {
    ProgressBar1.SetPosition(i);
    host_.ProcessMessages();
    host_.SelectListLine(i);
    const std::string name = ListingPackageName(ListBox1[i]);
    // The name becomes a path here: anything but a plain file name is passed over.
    if (!IsPlainFileName(name)) continue;
    if (normalRun && FLastUpdate != 0 && !IsNewerThan(name, FLastUpdate)) continue;
    ++FPackageCount;
    InstallPackage(i, name);
  }
  host_.SetWaitCursor(false);
  NetFTP1.CloseSession();
}

void TForm1::InstallPackage(int index, const std::string& name) {
  const std::string copy = base::TempFolderPath() + name;
  // An earlier copy goes first, so that a resumed download never continues it.
  base::DeleteFile(copy);
  NetFTP1.RetrieveFile(name, copy, true, true);
  const std::string tempDir = FRootFolder + "/temp";
  if (!base::DirectoryExists(tempDir)) base::CreateDir(tempDir);
  Archiver1.TempDir = tempDir;
  Archiver1.Password = kPackagePassword;
  ProgressBar2.SetPosition(0);
  Archiver1.FileName = copy;
  Archiver1.OpenArchiveFile(0);
  ProgressBar2.SetMax(Archiver1.EntryCount());
  Archiver1.BaseDir = FRootFolder;
  Archiver1.ExtractMatching("*.*", 10431, "");
  Archiver1.CloseArchiveFile();
  ListBox1.Put(index, ListBox1[index] + " ... complete");
}

}  // namespace krevo::app
