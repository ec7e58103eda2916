#include "app/UpdaterConfig.h"

#include <algorithm>
#include <charconv>

#include "base/IniFile.h"

#ifndef KREVO_FTP_HOST
#define KREVO_FTP_HOST "localhost"
#endif
#ifndef KREVO_FTP_PORT
#define KREVO_FTP_PORT 21
#endif

namespace krevo::app {

std::string DefaultFtpHost() {
  return KREVO_FTP_HOST;
}
int DefaultFtpPort() {
  return KREVO_FTP_PORT;
}

TUpdaterConfig ReadUpdaterConfig(const std::string& executableFolder) {
  const std::string ini = executableFolder + "config.ini";
  TUpdaterConfig config;
  config.DocumentsRoot = base::ReadProfileString(ini, "Documents", "RootFolder", executableFolder);
  config.ReportsRoot = base::ReadProfileString(ini, "Reports", "RootFolder", executableFolder);
  config.Host = base::ReadProfileString(ini, "Updater", "Host", DefaultFtpHost());
  if (config.Host.empty()) config.Host = DefaultFtpHost();
  config.Port = DefaultFtpPort();
  const std::string port = base::ReadProfileString(ini, "Updater", "Port", "");
  int value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (ec == std::errc() && end == port.data() + port.size() && value >= 1 && value <= 65535)
    config.Port = value;
  return config;
}

std::string DeriveRootFolder(const std::string& documents, const std::string& reports) {
  std::string root;
  const std::size_t n = std::min(documents.size(), reports.size());
  for (std::size_t i = 0; i < n; ++i)
    if (documents[i] == reports[i]) root += documents[i];
  return root;
}

}  // namespace krevo::app
