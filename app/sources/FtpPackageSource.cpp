#include "app/sources/FtpPackageSource.h"

#include "app/sources/EncryptionRefusal.h"
#include "app/sources/PackageListingFetch.h"
#include "app/sources/UpdateSources.h"
#include "base/BoundedMemoryStream.h"
#include "base/ControlEscape.h"
#include "ftp/NetExceptions.h"
#include "ftp/NetUnreachable.h"

namespace krevo::app {

TSmallFile FetchSmallFile(ftp::TNetFTP& ftp, const std::string& name, std::size_t limit) {
  // A longer file is cut off at the limit and refused, without buffering what
  // the server would go on sending; the memory stream holds no more either.
  base::TBoundedMemoryStream file(static_cast<std::int64_t>(limit));
  try {
    ftp.RetrieveIntoStream(name, file, false, static_cast<std::int64_t>(limit));
  } catch (const ftp::ENetProtocolReplyError& e) {
    // The reply's text comes from the server.
    const std::string reply = base::EscapeControlCharacters(e.what());
    if (e.ReplyCode == 550) return {false, reply};
    throw ESmallFileRefused(name + " could not be received: " + reply);
  } catch (const ftp::ENetTransferTooLong&) {
    // The transfer was stopped at the limit, the session brought back in step.
    throw ESmallFileRefused(name + " is larger than " + std::to_string(limit) + " bytes");
  }
  return {true, file.AsString()};
}

TFtpPackageSource::TFtpPackageSource(ftp::TNetFTP& ftp, std::string host, int port, bool tls)
    : ftp_(ftp), host_(std::move(host)), port_(port), tls_(tls) {}

std::string TFtpPackageSource::Name() const {
  return SourceName(tls_, host_, port_);
}

void TFtpPackageSource::PointAtServer() {
  // Several sources share the one client: each says where it goes.
  ftp_.SetHost(host_);
  ftp_.SetPort(port_);
  ftp_.Security = tls_ ? ftp::fsTLS : ftp::fsNone;
}

void TFtpPackageSource::Connect() {
  PointAtServer();
  try {
    ftp_.OpenSession(true, -1);
  } catch (const ftp::ENetProtocolReplyError& e) {
    if (DemandsEncryption(e)) throw WithEncryptionAdvice(e);
    throw;
  }
}

void TFtpPackageSource::EnterUpdates() {
  ftp_.EnterDirectory("krevo");
  ftp_.EnterDirectory("updates");
}

bool TFtpPackageSource::IsUnreachable(const std::exception& failure) const {
  return ftp::IsUnreachable(failure, ftp_.ReachedLogin());
}

std::string TFtpPackageSource::ConnectFailure(const std::exception&) const {
  return "Failed to connect to FTP server " + ftp_.Host() + ".";
}

void TFtpPackageSource::Close() {
  ftp_.CloseSession();
}

bool TFtpPackageSource::IsOpen() {
  return ftp_.IsLinkOpen();
}

void TFtpPackageSource::Reopen() {
  ftp_.CloseSession();
  PointAtServer();
  ftp_.OpenSession(true, -1);
  EnterUpdates();
}

void TFtpPackageSource::FetchListing(base::TStringList& lines) {
  FetchPackageListing(ftp_, lines);
}

void TFtpPackageSource::Retrieve(const std::string& name, base::TStream& stream, bool resume,
                                 std::int64_t maxBytes) {
  ftp_.RetrieveIntoStream(name, stream, resume, maxBytes);
}

TSmallFile TFtpPackageSource::FetchSmallFile(const std::string& name, std::size_t limit) {
  return app::FetchSmallFile(ftp_, name, limit);
}

bool TFtpPackageSource::AcceptsResume() {
  return ftp_.ServerAcceptsRestart();
}

bool TFtpPackageSource::ResumeRefused() const {
  return ftp_.RestartRefused();
}

std::optional<std::string> TFtpPackageSource::ModificationTime(const std::string& name) {
  return ftp_.ModificationTime(name);
}

bool TFtpPackageSource::Resynchronize() {
  return ftp_.Resynchronize();
}

}  // namespace krevo::app
