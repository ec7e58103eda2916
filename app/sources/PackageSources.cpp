#include "app/sources/PackageSources.h"

#include "app/sources/FolderPackageSource.h"
#include "app/sources/FtpPackageSource.h"
#include "base/ControlEscape.h"

namespace krevo::app {

std::vector<TSourceAddress> SourceAddresses(const TSourceSettings& settings) {
  std::vector<TSourceAddress> addresses;
  if (settings.Sources.empty()) {
    addresses.push_back({settings.RequireTLS ? TSourceKind::skFtps : TSourceKind::skFtp,
                         settings.Host,
                         settings.Port,
                         {}});
  } else {
    addresses = ParseSources(settings.Sources);
    // Security=tls asks for the password never to go in clear: an ftp://
    // entry would send it so.
    if (settings.RequireTLS)
      for (const TSourceAddress& a : addresses)
        if (a.Kind == TSourceKind::skFtp)
          throw ESourceError("Sources in config.ini: the server " +
                             base::EscapeControlCharacters(SourceAddressName(a)) +
                             " would be sent the password in clear, and Security=tls in "
                             "config.ini asks for TLS; write it ftps://, or set Security=none.");
  }
  if (!settings.ChecksPackages && !settings.AllowUnsignedFolder)
    for (const TSourceAddress& a : addresses)
      if (a.Kind == TSourceKind::skFolder)
        throw ESourceError("Sources in config.ini: the folder " +
                           base::EscapeControlCharacters(SourceAddressName(a)) +
                           " may serve unsigned packages only with AllowUnsignedFolder=yes; set "
                           "PublicKey or PublicKeyFile in the [Updater] section of config.ini.");
  return addresses;
}

std::string FirstSourceName(const TSourceSettings& settings) {
  try {
    if (!settings.Sources.empty()) return SourceAddressName(ParseSources(settings.Sources).front());
  } catch (const ESourceError&) {
    // Named as the single server then.
  }
  return SourceName(settings.RequireTLS, settings.Host, settings.Port);
}

std::vector<std::unique_ptr<TPackageSource>> MakePackageSources(
    const std::vector<TSourceAddress>& addresses, ftp::TNetFTP& ftp,
    const TFolderCopyEvents& folderEvents) {
  std::vector<std::unique_ptr<TPackageSource>> sources;
  for (const TSourceAddress& a : addresses) {
    if (a.Kind != TSourceKind::skFolder) {
      sources.push_back(
          std::make_unique<TFtpPackageSource>(ftp, a.Host, a.Port, a.Kind == TSourceKind::skFtps));
      continue;
    }
    auto folder = std::make_unique<TFolderPackageSource>(a.Path);
    folder->OnWorkBegin = folderEvents.OnWorkBegin;
    folder->OnWork = folderEvents.OnWork;
    folder->OnWorkEnd = folderEvents.OnWorkEnd;
    folder->SetStopDescriptor(folderEvents.StopFd);
    sources.push_back(std::move(folder));
  }
  return sources;
}

}  // namespace krevo::app
