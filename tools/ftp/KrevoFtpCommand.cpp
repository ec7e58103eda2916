#include "tools/ftp/KrevoFtpCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <random>

#include "base/ControlEscape.h"
#include "base/Errors.h"
#include "base/FileSystem.h"
#include "base/Version.h"
#include "ftp/NetFTP.h"
#include "ftp/NetRateGovernor.h"
#include "ftp/NetRetry.h"
#include "ftp/NetRetryLoop.h"
#include "tools/ftp/ControlLineLog.h"
#include "tools/ftp/FtpUrl.h"
#include "tools/ftp/TransferProgress.h"

namespace krevo::tools {
namespace {

constexpr const char* kUsage =
    "Usage: krevo-ftp ls   [options] URL          raw LIST lines of URL's last segment\n"
    "       krevo-ftp nlst [options] URL          the same with NLST (names only)\n"
    "       krevo-ftp get  [options] URL [LOCAL]  retrieve URL into LOCAL, replacing it\n"
    "                                             (only once the download is complete)\n"
    "\n"
    "URL: ftp://[user[:password]@]host[:port]/folder/.../last\n"
    "     The last segment is a file name or a pattern such as up*.zip; each folder\n"
    "     is entered with its own CWD. Percent-escapes are decoded. Without a user,\n"
    "     anonymous login with the password \"anonymous@\". An IPv6 host stands in\n"
    "     brackets: ftp://[::1]:2121/x. Over IPv6 the data connection uses EPSV\n"
    "     (EPRT with --active); over IPv4 PASV, or EPSV when PASV is refused.\n"
    "LOCAL: a file, or a folder to put the remote name in (default: the remote\n"
    "     name in the current folder).\n"
    "\n"
    "Options:\n"
    "  --active       the server connects for the data (PORT, EPRT) instead of PASV\n"
    "  --ascii        transfer in ASCII type (TYPE A) instead of binary\n"
    "  --resume       continue LOCAL where it ends (REST); a LOCAL as long as the\n"
    "                 remote file (SIZE) is left as it is, a longer one fails (3)\n"
    "  --ftps         require explicit TLS (AUTH TLS) on the control and data\n"
    "                 connections, with the server's certificate checked against\n"
    "                 the system's trust store\n"
    "  --cacert FILE  with --ftps: trust the certificates in the PEM FILE instead\n"
    "  -k, --insecure with --ftps: do not check the certificate (testing only)\n"
    "  --timeout MS   give up when the server is silent for MS milliseconds\n"
    "                 (default 0: no limit)\n"
    "  --speed-limit N[K|M]\n"
    "                 give up when a transfer is slower than N bytes a second\n"
    "                 over --speed-time seconds (default 30); default: no floor\n"
    "  --speed-time S the same over S seconds (1 to 3600), with a --speed-limit\n"
    "                 of 1 byte a second unless one is given\n"
    "  --limit-rate N[K|M]\n"
    "                 transfer at most N bytes a second on average (K: 1024,\n"
    "                 M: 1024*1024); default: no limit\n"
    "  --retry N      when the transfer breaks off (a connection error, a time-out,\n"
    "                 a transfer below --speed-limit, a 4xx reply, or a get that\n"
    "                 ends short of the remote file's SIZE), try again up to N\n"
    "                 times (0 to 100, default 0), after 1, 2, 4, 8, 16... seconds;\n"
    "                 a get goes on where it stopped (REST) when the server\n"
    "                 accepts it, on a new session when the old one was lost\n"
    "  -v, --verbose  show the status, the TLS version and cipher, and every command\n"
    "                 and reply, on standard error\n"
    "  --             end of the options\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 success, 1 the server refused, 2 connection or socket failure,\n"
    "3 local file error, 64 usage error.\n";

struct TOptions {
  std::string command;
  TFtpUrl url;
  std::string local;
  bool active = false, ascii = false, resume = false, verbose = false;
  bool ftps = false, insecure = false;
  std::string caFile;
  int timeout = 0;
  // The floor and the cap on the data connections' speed; 0: none.
  std::int64_t speedLimit = -1, limitRate = 0;  // -1: not given
  int speedTime = -1;
  int retry = 0;  // --retry
};

std::optional<TOptions> ParseArgs(const std::vector<std::string>& args, std::FILE* err,
                                  int& status) {
  TOptions o;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  auto usageError = [&](const std::string& message) {
    std::fprintf(err, "krevo-ftp: %s\nTry 'krevo-ftp --help' for more information.\n",
                 message.c_str());
    status = kExitUsage;
    return std::nullopt;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      positional.push_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--active") {
      o.active = true;
    } else if (a == "--ascii") {
      o.ascii = true;
    } else if (a == "--resume") {
      o.resume = true;
    } else if (a == "--ftps") {
      o.ftps = true;
    } else if (a == "-k" || a == "--insecure") {
      o.insecure = true;
    } else if (a == "--cacert" || a.rfind("--cacert=", 0) == 0) {
      o.caFile = a == "--cacert" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(9);
      if (o.caFile.empty()) return usageError("--cacert needs a file");
    } else if (a == "-v" || a == "--verbose") {
      o.verbose = true;
    } else if (a == "--timeout" || a.rfind("--timeout=", 0) == 0) {
      std::string value = a == "--timeout" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(10);
      if (value.empty() || value.size() > 9 ||
          value.find_first_not_of("0123456789") != std::string::npos)
        return usageError("--timeout needs a number of milliseconds");
      o.timeout = std::stoi(value);
    } else if (a == "--speed-limit" || a.rfind("--speed-limit=", 0) == 0 || a == "--limit-rate" ||
               a.rfind("--limit-rate=", 0) == 0) {
      const bool floor = a.rfind("--speed-limit", 0) == 0;
      const std::size_t name = floor ? 13 : 12;
      const std::string value =
          a.size() == name ? (i + 1 < args.size() ? args[++i] : "") : a.substr(name + 1);
      std::int64_t rate = 0;
      if (!ftp::ParseByteRate(value, rate))
        return usageError(a.substr(0, name) + " needs a number of bytes a second (K, M)");
      (floor ? o.speedLimit : o.limitRate) = rate;
    } else if (a == "--retry" || a.rfind("--retry=", 0) == 0) {
      const std::string value =
          a == "--retry" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(8);
      int count = 0;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), count);
      if (ec != std::errc() || end != value.data() + value.size() || count < 0 ||
          count > ftp::kMaxRetries)
        return usageError("--retry needs a number from 0 to 100");
      o.retry = count;
    } else if (a == "--speed-time" || a.rfind("--speed-time=", 0) == 0) {
      const std::string value =
          a == "--speed-time" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(13);
      int seconds = 0;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (ec != std::errc() || end != value.data() + value.size() || seconds < 1 ||
          seconds > ftp::TNetRateLimits::kMaxMinRateTime)
        return usageError("--speed-time needs a number of seconds from 1 to 3600");
      o.speedTime = seconds;
    } else {
      return usageError("unknown option " + a);
    }
  }
  // As curl's: either of the floor's options alone turns it on, with the
  // other's default.
  if (o.speedTime < 0) o.speedTime = o.speedLimit < 0 ? 0 : 30;
  if (o.speedLimit < 0) o.speedLimit = o.speedTime > 0 ? 1 : 0;
  if (!o.ftps && (o.insecure || !o.caFile.empty()))
    return usageError(std::string(o.insecure ? "-k" : "--cacert") + " needs --ftps");
  if (positional.empty()) return usageError("no command given");
  o.command = positional[0];
  if (o.command != "ls" && o.command != "nlst" && o.command != "get")
    return usageError("unknown command " + o.command);
  const std::size_t most = o.command == "get" ? 3 : 2;
  if (positional.size() < 2 || positional.size() > most)
    return usageError(o.command == "get" ? "get needs URL [LOCAL]" : o.command + " needs one URL");
  std::string error;
  auto url = ParseFtpUrl(positional[1], error);
  if (!url) return usageError(error);
  o.url = *url;
  if (o.command == "get") {
    if (o.url.last.empty()) return usageError("the URL names no file to get");
    std::string name = o.url.last.substr(o.url.last.rfind('/') + 1);
    o.local = positional.size() > 2 ? positional[2] : name;
    if (base::DirectoryExists(o.local)) o.local += (o.local.back() == '/' ? "" : "/") + name;
  }
  return o;
}

// The remote file's size by SIZE, or -1 when the server does not tell it.
std::int64_t RemoteSize(ftp::TNetFTP& client, const std::string& name) {
  try {
    client.SendCommand("SIZE " + name, 213);
  } catch (const ftp::ENetProtocolReplyError&) {
    return -1;
  }
  const base::TStringList& lines = client.LastReply().Text;
  const std::string text = lines.Count() > 0 ? lines[0] : std::string();
  std::int64_t size = -1;
  const char* first = text.data();
  while (first != text.data() + text.size() && *first == ' ') ++first;
  auto [end, ec] = std::from_chars(first, text.data() + text.size(), size);
  return ec == std::errc() && size >= 0 ? size : -1;
}

// The command, its retries run by ftp::TNetRetryLoop; failures other than a
// retried or short transfer are thrown for Report.
int Run(const TOptions& o, std::FILE* out, std::FILE* err, TTransferProgress& progress) {
  std::mt19937 random{std::random_device{}()};
  ftp::TNetFTP client;
  client.SetHost(o.url.host);
  client.SetPort(o.url.port);
  client.Username = o.url.user;
  client.Password = o.url.password;
  client.Passive = !o.active;
  client.ReadTimeout = o.timeout;
  client.MinRate = o.speedLimit;
  client.MinRateTime = o.speedTime;
  client.MaxRate = o.limitRate;
  if (o.ascii) client.SetTransferType(ftp::ftASCII);
  if (o.ftps) {
    client.Security = ftp::fsTLS;
    client.CAFile = o.caFile;
    client.VerifyCertificate = !o.insecure;
    if (o.insecure)
      std::fprintf(err,
                   "krevo-ftp: warning: --insecure: the server's certificate is not checked\n");
  }
  TControlLineLog lineLog(err);
  if (o.verbose) {
    client.Intercept = &lineLog;
    client.OnStatus = [err](ftp::TNetComponent*, ftp::TNetStatus, const std::string& text) {
      std::fprintf(err, "* %s\n", text.c_str());
    };
  }
  if (o.command == "get" && ::isatty(::fileno(err))) {
    client.OnWorkBegin = [&](ftp::TNetComponent*, ftp::TWorkMode, std::int64_t) {
      progress.Begin();
    };
    client.OnWork = [&](ftp::TNetComponent*, ftp::TWorkMode, std::int64_t n) {
      progress.Update(n);
    };
    client.OnWorkEnd = [&](ftp::TNetComponent*, ftp::TWorkMode) { progress.End(); };
  }
  // A download that broke off is retried where it stopped; the partial
  // download (LOCAL with --resume, else LOCAL.part) stays between the tries.
  const std::string part = o.resume ? o.local : o.local + ".part";
  std::int64_t remoteSize = -1;  // by SIZE, with --retry
  bool started = false;          // a get has written to `part`
  int status = kExitOk;
  // One try: nothing when the command is done (with `status`), else why a
  // get ended short of the remote file's SIZE.
  const auto attempt = [&]() -> std::optional<std::string> {
    if (!client.IsLinkOpen()) {
      client.OpenSession(true, -1);
      for (const auto& folder : o.url.folders) client.EnterDirectory(folder);
    }
    if (o.command == "get") {
      if (o.resume && !started && base::FileExists(o.local)) {
        if (!client.ServerAcceptsRestart()) {
          std::fprintf(err, "krevo-ftp: the server does not accept REST: cannot resume %s\n",
                       o.local.c_str());
          client.CloseSession();
          status = kExitServerRefused;
          return std::nullopt;
        }
        // A local file as long as the remote one is complete; a longer one
        // is not the server's file, and resuming would leave it so.
        struct stat st {};
        const std::int64_t remote = RemoteSize(client, o.url.last);
        if (remote >= 0 && ::stat(o.local.c_str(), &st) == 0 && st.st_size >= remote) {
          client.CloseSession();
          if (st.st_size == remote) return std::nullopt;
          std::fprintf(err,
                       "krevo-ftp: %s is longer (%lld bytes) than the remote file (%lld bytes): "
                       "cannot resume\n",
                       o.local.c_str(), static_cast<long long>(st.st_size),
                       static_cast<long long>(remote));
          status = kExitLocalFile;
          return std::nullopt;
        }
        remoteSize = remote;
      } else if (o.retry > 0 && !started) {
        // What a whole transfer brings, so that one cut short is retried too.
        remoteSize = RemoteSize(client, o.url.last);
      }
      // Into a sibling first (without --resume): a refused or broken
      // download must not destroy the file it was meant to replace.
      const bool goOn = (o.resume || started) && base::FileExists(part) &&
                        (!started || client.ServerAcceptsRestart());
      started = true;
      client.RetrieveFile(o.url.last, part, !goOn, goOn);
      struct stat st {};
      if (remoteSize >= 0 && ::stat(part.c_str(), &st) == 0 && st.st_size < remoteSize)
        return "the transfer ended short: " + std::to_string(st.st_size) + " of " +
               std::to_string(remoteSize) + " bytes were received";
      if (!o.resume && std::rename(part.c_str(), o.local.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        base::DeleteFile(part);
        throw base::EStreamError("Cannot replace file \"" + o.local + "\". " + reason);
      }
    } else {
      base::TStringList lines;
      client.FetchListing(&lines, o.url.last, o.command == "ls");
      for (const auto& line : lines.Lines()) std::fprintf(out, "%s\n", line.c_str());
      std::fflush(out);
    }
    client.CloseSession();
    return std::nullopt;
  };
  ftp::TNetRetryLoop loop;
  loop.Name = o.url.last;
  loop.Retries = o.retry;
  loop.OnResynchronize = [&] {
    progress.End();
    client.Resynchronize();
  };
  loop.OnResumeRefused = [&] { return client.RestartRefused(); };
  loop.OnCopyEnd = [&]() -> std::int64_t {
    struct stat st {};
    return o.command == "get" && ::stat(part.c_str(), &st) == 0 ? st.st_size : 0;
  };
  loop.OnRetry = [err](const std::string& note) {
    std::fprintf(err, "krevo-ftp: %s\n", note.c_str());
  };
  ftp::TNetRetryEnd end;
  try {
    end = loop.Run(attempt, random);
  } catch (...) {
    if (!o.resume && started) base::DeleteFile(part);
    throw;
  }
  if (end.whole) return status;
  if (!o.resume && started) base::DeleteFile(part);
  if (end.error) std::rethrow_exception(end.error);
  progress.End();
  std::fprintf(err, "krevo-ftp: %s\n", end.failure.c_str());
  return kExitConnection;
}

int Report(const TOptions& o, std::FILE* out, std::FILE* err) {
  TTransferProgress progress(err);
  try {
    return Run(o, out, err, progress);
  } catch (const ftp::ENetProtocolReplyError& e) {
    progress.End();
    std::fprintf(err, "krevo-ftp: the server refused: %d %s\n", e.ReplyCode,
                 base::FailureText(e).c_str());
    return kExitServerRefused;
  } catch (const ftp::ENetFTPFileAlreadyExists& e) {
    progress.End();
    std::fprintf(err, "krevo-ftp: %s: %s\n", o.local.c_str(), e.what());
    return kExitLocalFile;
  } catch (const ftp::ENetException& e) {
    progress.End();
    std::fprintf(err, "krevo-ftp: %s\n", base::FailureText(e).c_str());
    return kExitConnection;
  } catch (const base::Exception& e) {
    progress.End();
    std::fprintf(err, "krevo-ftp: %s\n", base::FailureText(e).c_str());
    return kExitLocalFile;
  }
}

}  // namespace

int RunKrevoFtp(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  for (const auto& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, out);
      return kExitOk;
    }
    if (a == "--version") {
      std::fprintf(out, "krevo-ftp %s\n", base::OwnFileVersion().c_str());
      return kExitOk;
    }
  }
  int status = kExitOk;
  auto options = ParseArgs(args, err, status);
  if (!options) return status;
  return Report(*options, out, err);
}

}  // namespace krevo::tools
