#pragma once
// Paths of the running program and of the system's temporary folder. Folders
// end in '/', the separator of this build.
#include <string>

namespace krevo::base {

// The folder part of a path: everything up to and including the last '/';
// empty when there is none.
std::string ExtractFilePath(const std::string& path);

// The file name part of a path: everything after the last '/'.
std::string ExtractFileName(const std::string& path);

// The full path of the running executable (/proc/self/exe, links resolved);
// empty when it cannot be read.
std::string ExecutablePath();

// The folder of the running executable, ending in '/'.
std::string ExecutableFolder();

// $TMPDIR when set and not empty, else "/tmp"; always ends in exactly one '/'.
std::string TempFolderPath();

// The application's title for a path: the file name without folder and
// extension, the first character in upper case and the rest in lower case.
std::string ApplicationTitle(const std::string& executablePath);

}  // namespace krevo::base
