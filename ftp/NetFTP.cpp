#include "ftp/NetFTP.h"

#include "base/FileSystem.h"
#include "ftp/NetText.h"
#include "ftp/NetTLSIOHandler.h"

namespace krevo::ftp {
void CheckCommandArgument(const std::string& arg) {
  if (arg.find_first_of("\r\n") != std::string::npos)
    throw ENetException(TNetMessage::InvalidCommandArgument);
}

void SplitListingLines(const std::string& data, base::TStringList& lines) {
  lines.Clear();
  const std::size_t end = std::min(data.size(), data.find('\0'));
  std::size_t start = 0;
  while (start < end) {
    std::size_t stop = data.find_first_of("\r\n", start);
    if (stop == std::string::npos || stop > end) stop = end;
    lines.Add(data.substr(start, stop - start));
    if (stop < end && data[stop] == '\r' && stop + 1 < end && data[stop + 1] == '\n') ++stop;
    start = stop + 1;
  }
}

namespace {

// Listing data, its lines counted as it arrives the way SplitListingLines
// will cut them: a line past `maxLines` raises ENetTransferTooLong before
// anything of its chunk is kept.
class TListingSink final : public base::TStream {
 public:
  explicit TListingSink(std::int64_t maxLines) : maxLines_(maxLines) {}
  std::int64_t Read(void* buffer, std::int64_t count) override { return data_.Read(buffer, count); }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const auto* bytes = static_cast<const char*>(buffer);
    for (std::int64_t i = 0; i < count && !dropped_; ++i) {
      const char c = bytes[i];
      if (c == '\0') {
        dropped_ = true;  // the rest is cut off
      } else if (c == '\n' && afterCR_) {
        afterCR_ = false;  // the LF of a CR LF
      } else {
        afterCR_ = c == '\r';
        if (atLineStart_ && ++lines_ > maxLines_) {
          tooManyLines_ = true;
          throw ENetTransferTooLong(maxLines_, TNetMessage::ListingTooManyLines);
        }
        atLineStart_ = c == '\r' || c == '\n';
      }
    }
    return data_.Write(buffer, count);
  }
  std::int64_t Seek(std::int64_t offset, base::TSeekOrigin origin) override {
    return data_.Seek(offset, origin);
  }
  void SetSize(std::int64_t size) override { data_.SetSize(size); }
  std::int64_t Size() override { return data_.Size(); }
  std::string AsString() const { return data_.AsString(); }
  bool TooManyLines() const { return tooManyLines_; }

 private:
  base::TMemoryStream data_;
  std::int64_t maxLines_;
  std::int64_t lines_ = 0;
  bool atLineStart_ = true;
  bool afterCR_ = false;
  bool dropped_ = false;
  bool tooManyLines_ = false;
};

}  // namespace

TNetFTP::TNetFTP() { port_ = 21; }

TNetFTP::~TNetFTP() = default;

void TNetFTP::SetTransferType(TNetFTPTransferType type) {
  if (type == transferType_ || transferLink_) return;
  transferType_ = type;
  if (IsLinkOpen()) ApplyTransferType();
}

void TNetFTP::OpenSession(bool autoLogin, int timeout) {
  if (autoLogin) {
    for (const auto* arg : {&Username, &Password, &ProxySettings.UserName, &ProxySettings.Password, &host_})
      CheckCommandArgument(*arg);
  }
  const std::string savedHost = host_;
  const int savedPort = port_;
  reachedLogin_ = false;
  try {
    try {
      if (ProxySettings.ProxyType != fpcmNone && !ProxySettings.Host.empty()) {
        host_ = ProxySettings.Host;
        port_ = ProxySettings.Port;
      }
      if (Security == fsTLS) {
        tlsContext_ = std::make_unique<TNetTLSContext>(CAFile, VerifyCertificate);
        if (!IOHandler()) AdoptIOHandler(std::make_unique<TNetTLSIOHandler>());
      } else {
        tlsContext_.reset();
      }
      OpenLink(timeout);
    } catch (...) {
      host_ = savedHost;
      port_ = savedPort;
      throw;
    }
    host_ = savedHost;
    port_ = savedPort;
    ExpectReply({220});
    GreetingReply().Assign(LastReply());
    if (tlsContext_) StartControlTLS();
    reachedLogin_ = true;
    if (autoLogin) {
      SendCredentials();
      if (OnAfterClientLogin) OnAfterClientLogin(this);
      if (tlsContext_) {
        SendCommand("PBSZ 0", 200);
        SendCommand("PROT P", 200);
      }
      ApplyTransferType();
      if (SendCommand("SYST", {200, 215, 500}) == 500)
        systemDescription_ = "Unknown";
      else
        systemDescription_ = LastReply().Text.Count() > 0 ? LastReply().Text[0] : std::string();
      DoStatus(ftpReady, "Connection established");
    }
  } catch (...) {
    CloseSession();
    throw;
  }
}

void TNetFTP::SendUserPass(const std::string& user, const std::string& password) {
  if (SendCommand("USER " + user, {230, 331}) == 331) SendCommand("PASS " + password, 230);
}

void TNetFTP::SendCredentials() {
  for (const auto* arg : {&Username, &Password, &ProxySettings.UserName, &ProxySettings.Password, &host_})
    CheckCommandArgument(*arg);
  const TNetFtpProxySettings& proxy = ProxySettings;
  auto proxyLogin = [&] {
    if (!proxy.UserName.empty()) SendUserPass(proxy.UserName, proxy.Password);
  };
  switch (proxy.ProxyType) {
    case fpcmNone:
      SendUserPass(Username, Password);
      break;
    case fpcmUserSite:
      proxyLogin();
      SendUserPass(Username + "@" + host_, Password);
      break;
    case fpcmSite:
      proxyLogin();
      SendCommand("SITE " + host_, -1);
      SendUserPass(Username, Password);
      break;
    case fpcmOpen:
      proxyLogin();
      SendCommand("OPEN " + host_, -1);
      SendUserPass(Username, Password);
      break;
    case fpcmUserPass:
      SendUserPass(Username + "@" + proxy.UserName + "@" + host_,
                   proxy.Password.empty() ? Password : Password + "@" + proxy.Password);
      break;
    case fpcmTransparent:
      proxyLogin();
      SendUserPass(Username, Password);
      break;
    case fpcmHttpProxyWithFtp:
      throw ENetException(TNetMessage::CommandNotSupported);
  }
  loginReply_.Assign(LastReply());
}

void TNetFTP::ApplyTransferType() {
  SendCommand(transferType_ == ftASCII ? "TYPE A" : "TYPE I", 200);
}

void TNetFTP::EnterDirectory(const std::string& name) {
  CheckCommandArgument(name);
  SendCommand("CWD " + name, {200, 250});
}

void TNetFTP::FetchListing(base::TStringList* lines, const std::string& specifier, bool withDetails) {
  CheckCommandArgument(specifier);
  TListingSink data(kMaxListingLines);
  try {
    RunDataTransfer(TrimBlanks((withDetails ? "LIST " : "NLST ") + specifier), data, false,
                    kMaxListingBytes);
  } catch (const ENetTransferTooLong&) {
    if (data.TooManyLines()) throw;
    throw ENetTransferTooLong(kMaxListingBytes >> 20, TNetMessage::ListingTooLarge);
  }
  SplitListingLines(data.AsString(), listingLines_);
  if (lines) {
    lines->Clear();
    for (const auto& line : listingLines_.Lines()) lines->Add(line);
  }
}

void TNetFTP::RetrieveFile(const std::string& remote, const std::string& local, bool canOverwrite,
                           bool resume) {
  CheckCommandArgument(remote);
  std::unique_ptr<base::TFileStream> file;
  if (base::FileExists(local)) {
    resume = resume && ServerAcceptsRestart();
    if (canOverwrite && !resume) {
      file = std::make_unique<base::TFileStream>(local, base::fmCreate);
    } else if (!canOverwrite && resume) {
      file = std::make_unique<base::TFileStream>(local, base::fmOpenWrite);
      file->Seek(0, base::TSeekOrigin::soEnd);
    } else {
      throw ENetFTPFileAlreadyExists();
    }
  } else {
    file = std::make_unique<base::TFileStream>(local, base::fmCreate);
  }
  RetrieveIntoStream(remote, *file, resume);
}

std::optional<std::string> TNetFTP::ModificationTime(const std::string& remote) {
  CheckCommandArgument(remote);
  if (SendCommand("MDTM " + remote, -1) != 213 || LastReply().Text.Count() != 1) return std::nullopt;
  // "213 20260101120000" or "213 20260101120000.123"; anything else is no time.
  const std::string text = LastReply().Text[0];
  const std::size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
  const bool fraction = digits == text.size() ||
                        (text[digits] == '.' && text.find_first_not_of("0123456789", digits + 1) ==
                                                    std::string::npos);
  if (digits < 14 || !fraction) return std::nullopt;
  return text;
}

bool TNetFTP::ServerAcceptsRestart() {
  if (!restartProbed_) {
    const bool supported = SendCommand("REST 1", -1) == 350;
    SendCommand("REST 0", -1);
    restartSupported_ = supported;
    restartProbed_ = true;
  }
  return restartSupported_;
}

void TNetFTP::RetrieveIntoStream(const std::string& remote, base::TStream& stream, bool resume,
                                 std::int64_t maxBytes) {
  CheckCommandArgument(remote);
  resume = resume && ServerAcceptsRestart();
  RunDataTransfer("RETR " + remote, stream, resume, maxBytes);
  DoOnAfterGet(stream);
}

void TNetFTP::DoOnAfterGet(base::TStream& stream) {
  if (OnAfterGet) OnAfterGet(this, stream);
}

}  // namespace krevo::ftp
