#include "app/config/UpdaterConfig.h"

#include <algorithm>
#include <charconv>

#include "base/IniFile.h"
#include "ftp/NetRateGovernor.h"
#include "ftp/NetRetry.h"

#ifndef KREVO_FTP_HOST
#define KREVO_FTP_HOST "localhost"
#endif
#ifndef KREVO_FTP_PORT
#define KREVO_FTP_PORT 21
#endif
#ifndef KREVO_FTP_SECURITY
#define KREVO_FTP_SECURITY "none"
#endif
#ifndef KREVO_FTP_CAFILE
#define KREVO_FTP_CAFILE ""
#endif
#ifndef KREVO_PUBLIC_KEY
#define KREVO_PUBLIC_KEY ""
#endif

namespace krevo::app {
namespace {

// The key's value when it is a whole number from `low` to `high`, else
// `fallback`.
int ReadNumber(const std::string& ini, const char* key, int low, int high, int fallback) {
  const std::string text = base::ReadProfileString(ini, "Updater", key, "");
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high)
    return value;
  return fallback;
}

// The key's value when it is a byte rate (ftp::ParseByteRate), else
// `fallback`.
std::int64_t ReadRate(const std::string& ini, const char* key, std::int64_t fallback) {
  std::int64_t value = fallback;
  ftp::ParseByteRate(base::ReadProfileString(ini, "Updater", key, ""), value);
  return value;
}

// Whether the key says yes: "yes", "true" or "1", in any case.
bool ReadYes(const std::string& ini, const char* key) {
  std::string text = base::ReadProfileString(ini, "Updater", key, "no");
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return text == "yes" || text == "true" || text == "1";
}

}  // namespace

std::string DefaultFtpHost() {
  return KREVO_FTP_HOST;
}
int DefaultFtpPort() {
  return KREVO_FTP_PORT;
}
std::string DefaultFtpSecurity() {
  return KREVO_FTP_SECURITY;
}
std::string DefaultFtpCAFile() {
  return KREVO_FTP_CAFILE;
}
std::string DefaultPublicKey() {
  return KREVO_PUBLIC_KEY;
}

std::string BesideExecutable(const std::string& path, const std::string& executableFolder) {
  if (path.empty() || path.front() == '/') return path;
  return executableFolder + path;
}

TUpdaterConfig ReadUpdaterConfig(const std::string& executableFolder) {
  const std::string ini = executableFolder + "config.ini";
  TUpdaterConfig config;
  config.DocumentsRoot = base::ReadProfileString(ini, "Documents", "RootFolder", executableFolder);
  config.ReportsRoot = base::ReadProfileString(ini, "Reports", "RootFolder", executableFolder);
  config.Host = base::ReadProfileString(ini, "Updater", "Host", DefaultFtpHost());
  if (config.Host.empty()) config.Host = DefaultFtpHost();
  config.Port = ReadNumber(ini, "Port", 1, 65535, DefaultFtpPort());
  config.ReadTimeout = ReadNumber(ini, "ReadTimeout", 0, 86400, config.ReadTimeout);
  config.MinRate = ReadRate(ini, "MinRate", config.MinRate);
  config.MinRateTime =
      ReadNumber(ini, "MinRateTime", 0, ftp::TNetRateLimits::kMaxMinRateTime, config.MinRateTime);
  config.MaxRate = ReadRate(ini, "MaxRate", config.MaxRate);
  config.Retries = ReadNumber(ini, "Retries", 0, ftp::kMaxRetries, config.Retries);
  config.RunTimeout = ReadNumber(ini, "RunTimeout", 0, 86400, config.RunTimeout);
  // No package at all is no setting anyone means: 0 keeps the default.
  if (const std::int64_t size = ReadRate(ini, "MaxPackageSize", 0); size > 0)
    config.MaxPackageSize = size;
  config.HealthCheck = base::ReadProfileString(ini, "Updater", "HealthCheck", "");
  config.HealthCheckTimeout =
      ReadNumber(ini, "HealthCheckTimeout", 1, 86400, config.HealthCheckTimeout);
  std::string security = base::ReadProfileString(ini, "Updater", "Security", DefaultFtpSecurity());
  for (char& c : security) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  config.RequireTLS = security != "none";
  config.CAFile = BesideExecutable(
      base::ReadProfileString(ini, "Updater", "CAFile", DefaultFtpCAFile()), executableFolder);
  config.PublicKey = base::ReadProfileString(ini, "Updater", "PublicKey", "");
  config.PublicKeyFile = base::ReadProfileString(ini, "Updater", "PublicKeyFile", "");
  config.Channel = base::ReadProfileString(ini, "Updater", "Channel", config.Channel);
  if (config.Channel.empty()) config.Channel = "stable";
  config.RequireIndex = ReadYes(ini, "RequireIndex");
  config.Sources = base::ReadProfileString(ini, "Updater", "Sources", "");
  config.AllowUnsignedFolder = ReadYes(ini, "AllowUnsignedFolder");
  std::string phasing = base::ReadProfileString(ini, "Updater", "Phasing", "yes");
  for (char& c : phasing) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  config.Phasing = !(phasing == "no" || phasing == "false" || phasing == "0" || phasing == "off");
  config.PhaseGroup = base::ReadProfileString(ini, "Updater", "PhaseGroup", "");
  config.MetricsFile = BesideExecutable(base::ReadProfileString(ini, "Updater", "MetricsFile", ""),
                                        executableFolder);
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
