#pragma once
// TNetFTP: the File Transfer Protocol client (RFC 959). The control connection
// carries commands and replies through the reply layer of TNetTCPConnection;
// each listing or retrieval opens a data channel of its own (passive: a second
// TNetTCPClient; active: a TNetSimpleServer), closed before the call returns.
// Every operation blocks; events fire on the calling thread inside the calls.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Streams.h"
#include "base/StringList.h"
#include "ftp/NetTCPClient.h"
#include "ftp/NetTLSContext.h"

namespace krevo::ftp {

enum TNetFTPTransferType { ftASCII, ftBinary };

// fsNone: plain FTP. fsTLS: explicit TLS on the control connection (AUTH TLS
// right after the greeting, before the login) and on every data connection.
enum TNetFTPSecurity { fsNone, fsTLS };

enum TNetFtpProxyType {
  fpcmNone,
  fpcmUserSite,
  fpcmSite,
  fpcmOpen,
  fpcmUserPass,
  fpcmTransparent,
  fpcmHttpProxyWithFtp,
};

struct TNetFtpProxySettings {
  TNetFtpProxyType ProxyType = fpcmNone;
  std::string Host;
  std::string UserName;
  std::string Password;
  int Port = 0;
};

using TNetFtpAfterGet = std::function<void(TNetComponent* ASender, base::TStream& VStream)>;

// Parses the text of a 227 reply: the part between the first "(" and the first
// ")", or else the part after the last space, as six comma-separated numbers
// 0..255. Returns false for anything else.
bool ParsePassiveReply(const std::string& text, std::string& host, int& port);

// Parses the text of a 229 reply, "Entering Extended Passive Mode (|||port|)":
// after the first "(", one delimiter (printable, not a digit) three times, the
// port 1..65535 in decimal, the delimiter and ")". Returns false for anything
// else, a reply naming a network family or an address included.
bool ParseExtendedPassiveReply(const std::string& text, int& port);

// Splits listing data into lines: each run of bytes up to CR, LF or CR LF is
// one line, exactly as received; a last line without a line end counts; text
// after a NUL byte is dropped.
void SplitListingLines(const std::string& data, base::TStringList& lines);

class TNetFTP final : public TNetTCPClient {
 public:
  TNetFTP();
  ~TNetFTP() override;

  // --- Published properties (Host and Port come from TNetTCPClient; Port
  // defaults to 21).
  std::string Username;
  std::string Password;
  bool Passive = false;
  // With False (the default) the passive data connection goes to the address
  // the control connection is connected to, with the port from the 227 reply:
  // a server cannot send the client elsewhere. True uses the reply's address
  // (PASV only: the data connection after EPSV always goes to the control
  // connection's peer).
  bool PassiveUseReplyHost = false;
  TNetFtpProxySettings ProxySettings;
  // fsTLS requires TLS: a server that refuses AUTH TLS ends OpenSession with
  // ENetProtocolReplyError (its code; the message "The server refused TLS: "
  // and its text), and nothing but AUTH TLS goes out in clear. After the
  // login "PBSZ 0" and "PROT P" (200 each) protect the data connections, each
  // of which resumes the control connection's TLS session and ends with the
  // TLS close. fsNone: the plain exchange, unchanged.
  TNetFTPSecurity Security = fsNone;
  // A PEM file of the certificates the server's must chain to; empty: the
  // system's trust store.
  std::string CAFile;
  // False: the server's certificate and name are not checked (testing only).
  bool VerifyCertificate = true;
  // The floor and the cap on the speed of every data connection (listings
  // and retrievals; never the control connection), as TNetRateLimits says:
  // MinRate bytes a second over MinRateTime seconds, counted from the data
  // connection's first receive; MaxRate bytes a second. 0: none (the
  // default). A transfer below the floor ends as a time-out does, with
  // ENetTransferTooSlow (an ENetReadTimeout), the data connection closed.
  std::int64_t MinRate = 0;
  int MinRateTime = 0;
  std::int64_t MaxRate = 0;
  TNotifyEvent OnAfterClientLogin;
  TNetFtpAfterGet OnAfterGet;

  TNetFTPTransferType TransferType() const { return transferType_; }
  // A different type while no transfer runs is stored and, when connected, sent
  // at once (TYPE A / TYPE I, reply 200). The same type, or any type while a
  // transfer runs, is ignored.
  void SetTransferType(TNetFTPTransferType type);

  TNetRFCReply& LoginReply() { return loginReply_; }
  // The server's answer to SYST, or "Unknown".
  const std::string& SystemDescription() const { return systemDescription_; }
  // The lines of the last listing.
  const base::TStringList& ListingLines() const { return listingLines_; }
  // The data connection while a transfer runs, else null.
  TNetTCPConnection* TransferLink() const { return transferLink_.get(); }

  // Connects, reads the 220 greeting, with fsTLS switches to TLS, and with
  // `autoLogin` logs in (then PBSZ and PROT with fsTLS), sends TYPE and SYST.
  // A refused certificate raises ENetTLSCertificateError, another TLS failure
  // ENetTLSError. Any failure after the connect began closes the session again and
  // propagates: the socket error (refused, unknown host), or
  // ENetProtocolReplyError with the server's code and text. A user name or
  // password holding CR or LF raises ENetException before anything is sent.
  void OpenSession(bool autoLogin = true, int timeout = -1);
  // Whether the last OpenSession got as far as the login: the server's
  // greeting read and, with fsTLS, the TLS handshake done. A failure before
  // that may mean the server could not be reached (IsUnreachable); one after
  // it does not.
  bool ReachedLogin() const { return reachedLogin_; }
  // The login sequence for ProxySettings.ProxyType; the last reply goes to
  // LoginReply. fpcmHttpProxyWithFtp raises ENetException "Command not supported.".
  void SendCredentials();
  // TYPE A or TYPE I, reply 200.
  void ApplyTransferType();
  // CWD name, reply 200 or 250; otherwise ENetProtocolReplyError.
  void EnterDirectory(const std::string& name);
  // The most a listing may hold, in bytes and in lines (as SplitListingLines
  // counts them): a server's listing that never ends must not take the
  // memory.
  static constexpr std::int64_t kMaxListingBytes = 16 << 20;
  static constexpr std::int64_t kMaxListingLines = 100000;

  // LIST (withDetails) or NLST with `specifier` over a data channel; the raw
  // lines go to `lines` (may be null; its contents are replaced) and to
  // ListingLines. A listing past kMaxListingLines or kMaxListingBytes is
  // stopped as soon as the first line or byte past it arrives, as
  // RunDataTransfer stops a transfer past its bound, and raises
  // ENetTransferTooLong "The listing is longer than 100000 lines" or "... than
  // 16 MiB"; `lines` and ListingLines are then left as they were.
  void FetchListing(base::TStringList* lines, const std::string& specifier, bool withDetails);
  // Downloads `remote` into the file `local`. An existing file is replaced with
  // canOverwrite and no usable resume, continued at its end without
  // canOverwrite and with a resume the server accepts; any other combination
  // raises ENetFTPFileAlreadyExists before any command is sent. The file is
  // closed in every case; a failed transfer leaves what was written. Throws
  // base::EStreamError family errors when the file cannot be created or opened.
  void RetrieveFile(const std::string& remote, const std::string& local, bool canOverwrite,
                    bool resume);
  // Downloads `remote` into `stream` (borrowed) from its position; with resume
  // (and a server that accepts REST) "REST <position>" goes first.
  // `maxBytes` (-1: no bound) is the most the remote file may hold: once a
  // byte more has arrived (counting, on a resumed transfer, the bytes before
  // the position) the transfer is stopped as RunDataTransfer says and
  // ENetTransferTooLong "The server sent more than the <maxBytes> bytes
  // expected" is thrown, with the stream holding nothing past the bound.
  void RetrieveIntoStream(const std::string& remote, base::TStream& stream, bool resume,
                          std::int64_t maxBytes = -1);
  // The server's modification time of `remote` as MDTM gives it (its
  // YYYYMMDDHHMMSS[.s] text, checked for digits), or nothing when the
  // server does not say (any reply but 213). Throws ENetException when the
  // connection fails.
  std::optional<std::string> ModificationTime(const std::string& remote);
  // Whether the server accepts REST: asked once in the life of the object
  // ("REST 1", then "REST 0" to undo it), remembered across connections.
  bool ServerAcceptsRestart();
  // Whether the server was asked (ServerAcceptsRestart) and refused REST.
  bool RestartRefused() const { return restartProbed_ && !restartSupported_; }

  // --- Data channel.
  // One transfer: data channel, optional REST, the command (125/150/154), the
  // data until the server closes it, the end reply (225/226/250). An abort
  // reported by the server (426 or 450) raises ENetProtocolReplyError with the
  // 426/450 code and text after status ftpAborted is reported; a 226 or 225
  // that starts within a second of it (or of ReadTimeout, when shorter) is
  // read first, so the next command gets its own answer.
  // `maxBytes` (-1: no bound) as in RetrieveIntoStream. A transfer past it,
  // or a stream that throws ENetTransferTooLong while it is written, is
  // stopped: the data connection is closed, ABOR and NOOP are sent and the
  // replies read up to NOOP's 200, all within ReadTimeout (kAbortWait when
  // ReadTimeout is 0); a server that does not answer so in time has the
  // session closed (IsLinkOpen false). Then ENetTransferTooLong is thrown on.
  void RunDataTransfer(const std::string& command, base::TStream& stream, bool resume,
                       std::int64_t maxBytes = -1);
  // The passive data address. On an IPv4 control connection PASV (227), or
  // EPSV (229) when PASV is refused with 500 or 502; on IPv6 EPSV alone. The
  // address after EPSV is the control connection's peer. Throws
  // ENetException "Invalid passive mode reply: <text>" for a reply that does
  // not parse, ENetProtocolReplyError for any other code.
  void QueryPassiveEndpoint(std::string& host, int& port);
  // PORT a,b,c,d,hi,lo (200) for an IPv4 listener, EPRT |2|address|port|
  // (200) for an IPv6 one.
  void AnnouncePort(const TNetSocketHandle& listenBinding);
  // Brings the control connection back in step after a transfer that was
  // stopped or failed (its data connection already closed), whatever the
  // server still has to say about it: ABOR, NOOP, and the replies up to
  // NOOP's 200, all within ReadTimeout (kAbortWait when ReadTimeout is 0).
  // A server that does not answer so in time, or a control connection
  // already lost, has the session closed. Returns whether the session is
  // open (IsLinkOpen). Never throws.
  bool Resynchronize();
  virtual void DoOnAfterGet(base::TStream& stream);
  // Sends ABOR when connected (no reply is read), then CloseDataChannel. Safe
  // inside a work event.
  virtual void AbortTransfer();
  // Drops the data channel's socket, when there is one.
  virtual void CloseDataChannel();
  // Hands the data channel the buffer sizes, the work events, ReadTimeout,
  // the rate limits and AbortDescriptor (a passive channel also gets ConnectTimeout); with TLS on
  // the control connection also a TLS-capable I/O handler.
  void PrepareDataChannel(TNetTCPConnection& channel);
  // With TLS on the control connection: the TLS handshake on the connected
  // data channel, resuming the control connection's session. Else nothing.
  void SecureDataChannel(TNetTCPConnection& channel);
  // "TLSv1.3, TLS_AES_256_GCM_SHA384" while the control connection runs TLS;
  // else empty.
  std::string TLSDescription() const;

 private:
  void SendUserPass(const std::string& user, const std::string& password);
  // AUTH TLS and the handshake on the control connection.
  void StartControlTLS();
  // The waits of a TLS handshake: ReadTimeout, or none.
  int TLSWaitLimit() const;
  void FinishTransfer();
  // The first text line of the last reply, trimmed.
  std::string FirstReplyLine();

  // Milliseconds to wait for a 226 or 225 after an abort reply.
  static constexpr int kSecondEndReplyWait = 1000;
  // Milliseconds for the replies after ABOR when ReadTimeout sets no limit.
  static constexpr int kAbortWait = 10000;
  // The most replies read after ABOR before NOOP's: the transfer's end, the
  // abort's and its end, and a few a server may add.
  static constexpr int kAbortReplies = 8;

  TNetFTPTransferType transferType_ = ftBinary;
  TNetRFCReply loginReply_;
  std::string systemDescription_;
  base::TStringList listingLines_;
  bool reachedLogin_ = false;
  bool restartProbed_ = false;
  bool restartSupported_ = false;
  std::unique_ptr<TNetTCPConnection> transferLink_;
  // The TLS settings and session of the current session; null without TLS.
  std::unique_ptr<TNetTLSContext> tlsContext_;
};

// Raises ENetException "Invalid character in FTP command argument" when `arg`
// holds CR or LF, which would end the command line early.
void CheckCommandArgument(const std::string& arg);

}  // namespace krevo::ftp
