#pragma once
// An FTP server as the source of the packages: the updater's own FTP client,
// pointed at one server, in its folder krevo/updates.
#include <string>

#include "app/sources/PackageSource.h"
#include "ftp/NetFTP.h"

namespace krevo::app {

class TFtpPackageSource final : public TPackageSource {
 public:
  // `ftp` is borrowed and must outlive the source; its account, time-outs,
  // rate limits, CAFile and events stay as its owner set them. Connect points
  // it at `host` and `port`, with TLS required when `tls`.
  TFtpPackageSource(ftp::TNetFTP& ftp, std::string host, int port, bool tls);

  std::string Name() const override;
  // OpenSession with the login. A login refused for want of encryption
  // carries the advice to turn it on (WithEncryptionAdvice).
  void Connect() override;
  // CWD krevo, then CWD updates.
  void EnterUpdates() override;
  // ftp::IsUnreachable, for the last Connect.
  bool IsUnreachable(const std::exception& failure) const override;
  // "Failed to connect to FTP server HOST."
  std::string ConnectFailure(const std::exception& failure) const override;
  void Close() override;
  bool IsOpen() override;
  void Reopen() override;
  // FetchPackageListing.
  void FetchListing(base::TStringList& lines) override;
  // TNetFTP::RetrieveIntoStream.
  void Retrieve(const std::string& name, base::TStream& stream, bool resume,
                std::int64_t maxBytes) override;
  // FetchSmallFile over the session (a 550 reply: absent).
  TSmallFile FetchSmallFile(const std::string& name, std::size_t limit) override;
  bool Resumable() const override { return true; }
  bool AcceptsResume() override;
  bool ResumeRefused() const override;
  std::optional<std::string> ModificationTime(const std::string& name) override;
  bool Resynchronize() override;

 private:
  void PointAtServer();

  ftp::TNetFTP& ftp_;
  std::string host_;
  int port_;
  bool tls_;
};

// Fetches the small file `name` from the session's current folder into
// memory, at most `limit` bytes: the transfer of a longer one is broken off
// and brings the session back in step. Throws ESmallFileRefused, its message
// saying why (a longer file, a refusal other than 550, with the server's
// reply escaped), and what the session throws otherwise.
TSmallFile FetchSmallFile(ftp::TNetFTP& ftp, const std::string& name, std::size_t limit);

}  // namespace krevo::app
