#pragma once
// What the updater reads from `config.ini` beside its executable, and the
// fixed settings of its components.
#include <cstdint>
#include <string>

namespace krevo::app {

// The fixed account and folders on the update server.
inline constexpr const char* kFtpUserName = "krevoftp";
inline constexpr const char* kFtpPassword = "q7wz2kp";

struct TUpdaterConfig {
  std::string DocumentsRoot;  // [Documents] RootFolder
  std::string ReportsRoot;    // [Reports] RootFolder
  std::string Host;           // [Updater] Host, else the compiled-in host
  int Port = 21;              // [Updater] Port, else the compiled-in port
  // [Updater] ReadTimeout: seconds of silence on a connection, or of a connect
  // that does not complete, that end the run; 0: no limit.
  int ReadTimeout = 60;
  // [Updater] MinRate over MinRateTime: a data transfer that brings fewer
  // than MinRate bytes a second over the last MinRateTime seconds (whole
  // seconds, checked once a second from its start) ends as a time-out does;
  // a server that sends a byte now and then cannot hold a run for hours.
  // 0 in either turns it off.
  std::int64_t MinRate = 1024;
  int MinRateTime = 60;
  // [Updater] MaxRate: the most bytes a second the data transfers take on
  // average; 0: no limit.
  std::int64_t MaxRate = 0;
  // [Updater] Retries: how many times a package's download that broke off
  // (a connection error, a time-out, a transfer below MinRate, a transient
  // 4xx reply, an end short of the listed size) is resumed in one run, after
  // waits of about 1, 2, 4, 8, 16 seconds; 0: never.
  int Retries = 5;
  // [Updater] RunTimeout: seconds a whole run may take from its start (the
  // listing, every download and installation); past them the run ends as
  // a stop does, with an error. 0: no limit. Below the systemd unit's limit,
  // so that the updater, not the service manager, ends a run and says why.
  int RunTimeout = 7200;
  // [Updater] MaxPackageSize: the largest package, in bytes, that is
  // downloaded; a package listed larger fails alone, before any of it is
  // written to the staging folder.
  std::int64_t MaxPackageSize = std::int64_t{2} << 30;
  // [Updater] HealthCheck: the check run after each package is in place
  // ("PATH ARG ...": a program below the root folder and its arguments, split
  // at blanks); empty: none. HealthCheckTimeout: the seconds it may take.
  std::string HealthCheck;
  int HealthCheckTimeout = 60;
  // [Updater] Security: "tls" requires TLS on every connection to the server
  // (the certificate always checked); "none" is plain FTP. Any other value
  // counts as "tls": a typing error must not send the password in clear.
  bool RequireTLS = false;
  // [Updater] CAFile: the PEM file of the certificates the server's must
  // chain to, relative to the executable folder unless it starts with '/'
  // (held here as that path); empty: the system's trust store.
  std::string CAFile;
  // [Updater] PublicKey: the base64 line of the key that packages must be
  // signed with; empty: none given.
  std::string PublicKey;
  // [Updater] PublicKeyFile: a minisign .pub file holding that key, relative
  // to the executable folder unless it starts with '/'; read only when
  // PublicKey is empty.
  std::string PublicKeyFile;
  // [Updater] Channel: the channel the package index must name; "stable"
  // when unset or empty.
  std::string Channel = "stable";
  // [Updater] RequireIndex: "yes" (or "true", "1", any case) refuses a
  // server without a package index; anything else accepts one.
  bool RequireIndex = false;
  // [Updater] MetricsFile: where the last run's figures go in the Prometheus
  // text format, relative to the executable folder unless it starts with '/'
  // (held here as that path); empty: nowhere.
  std::string MetricsFile;
  // [Updater] Sources: the update sources, tried in order (ParseSources reads
  // it when the run starts); empty: Host, Port and Security name the one
  // server.
  std::string Sources;
  // [Updater] AllowUnsignedFolder: "yes" (or "true", "1", any case) lets a
  // folder among the Sources serve packages when no key is set; anyone who
  // can write that folder could otherwise install code.
  bool AllowUnsignedFolder = false;
  // [Updater] Phasing: "no" (or "false", "off", "0", any case) takes every package of
  // the index at once, whatever share of machines its phase names; anything
  // else follows the phases.
  bool Phasing = true;
  // [Updater] PhaseGroup: a name that puts every machine holding it in the
  // same place of each phased release; empty: the machine's own place.
  std::string PhaseGroup;
};

// The compiled-in update server.
std::string DefaultFtpHost();
int DefaultFtpPort();
// The compiled-in Security ("none" or "tls") and CAFile.
std::string DefaultFtpSecurity();
std::string DefaultFtpCAFile();
// The compiled-in public key's base64 line; empty when none was built in.
std::string DefaultPublicKey();

// `path` as it stands when it starts with '/' or is empty, else below
// `executableFolder` (which ends in '/'): never the current folder, which
// whoever starts the program chooses.
std::string BesideExecutable(const std::string& path, const std::string& executableFolder);

// Reads `executableFolder` + "config.ini". Both root folders default to
// `executableFolder`; the server to the compiled-in one (a Port that is not a
// number from 1 to 65535 keeps the default); the read time-out to 60 (a value
// that is not a whole number from 0 to 86400 keeps it); MinRate and MaxRate
// to 1024 and 0 (a value other than digits with an optional K or M, for 1024
// and 1024 * 1024, up to 2^40, keeps the default), MinRateTime to 60 (a value
// that is not a whole number from 0 to 3600 keeps it); Retries to 5 (a value
// that is not a whole number from 0 to 100 keeps it); RunTimeout to 7200 (a
// value that is not a whole number from 0 to 86400 keeps it); MaxPackageSize
// to 2 GiB (a value other than digits with an optional K or M, from 1 up to
// 2^40, keeps it); HealthCheck to empty (as it stands) and HealthCheckTimeout
// to 60 (a value that is not a whole number from 1 to 86400 keeps it);
// Security and CAFile to
// the compiled-in ones (CAFile through BesideExecutable); the key values to empty (they are read as
// keys later); Channel to "stable" and RequireIndex to no; MetricsFile to empty (through
// BesideExecutable); Sources to empty (as it stands, blanks and all),
// AllowUnsignedFolder to no, Phasing to yes and PhaseGroup to empty. Never throws for a missing or
// malformed file.
TUpdaterConfig ReadUpdaterConfig(const std::string& executableFolder);

// The installation root folder: the characters that the two values hold at the
// same positions, over the length of the shorter one. A position where they
// differ contributes nothing, and the scan goes on past it.
std::string DeriveRootFolder(const std::string& documents, const std::string& reports);

}  // namespace krevo::app
