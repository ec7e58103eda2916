#include "app/report/RunStatus.h"

#include <arpa/inet.h>

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "base/ControlEscape.h"

namespace krevo::app {
namespace {

using nlohmann::json;

// Figures beyond this are no figures any run could have reached; a file that
// holds one is taken as damaged. Kept within what every JSON reader holds
// exactly.
constexpr std::uint64_t kMaxFigure = std::uint64_t{1} << 53;
// 9999-12-31T23:59:59Z, the last time the format can show.
constexpr std::int64_t kMaxSeconds = 253402300799;

std::optional<std::int64_t> ParseIsoTime(const std::string& text) {
  if (text.size() != 20) return std::nullopt;
  std::tm tm{};
  int fields[6];
  const char* layout = "dddd-dd-ddTdd:dd:ddZ";
  for (std::size_t i = 0; i < 20; ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (layout[i] == 'd' ? !digit : text[i] != layout[i]) return std::nullopt;
  }
  const auto number = [&](std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (text[i] - '0');
    return v;
  };
  fields[0] = number(0, 4), fields[1] = number(5, 2), fields[2] = number(8, 2);
  fields[3] = number(11, 2), fields[4] = number(14, 2), fields[5] = number(17, 2);
  if (fields[0] < 1970) return std::nullopt;
  tm.tm_year = fields[0] - 1900, tm.tm_mon = fields[1] - 1, tm.tm_mday = fields[2];
  tm.tm_hour = fields[3], tm.tm_min = fields[4], tm.tm_sec = fields[5];
  const std::time_t seconds = ::timegm(&tm);
  // timegm rolls an impossible date over (February 30th): only one that
  // reads back the same is a time.
  if (seconds < 0 || IsoTime(seconds) != text) return std::nullopt;
  return seconds;
}

// Whether no array or object in the JSON `text` lies deeper than
// `maxDepth`: a status is three deep, and a file nested a million deep would
// cost a parse a hundred megabytes.
bool NestingWithin(const std::string& text, int maxDepth) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

bool IsFigure(const json& value) {
  return value.is_number_unsigned() && value.get<std::uint64_t>() <= kMaxFigure;
}

}  // namespace

std::string IsoTime(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(std::clamp<std::int64_t>(seconds, 0, kMaxSeconds));
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string RunOutcomeName(int exitStatus, bool installedAny) {
  switch (exitStatus) {
    case 0:
      return installedAny ? "updated" : "nothing_new";
    case 2:
      return "in_use";
    case 3:
      return "unreachable";
    case 4:
      return "failed";
    default:
      return exitStatus >= 128 ? "stopped" : "error";
  }
}

TRunStatus MakeRunStatus(const TRunRecord& record, int exitStatus, std::int64_t finished,
                         const std::optional<TRunStatus>& previous) {
  TRunStatus status;
  status.runStarted =
      std::chrono::duration_cast<std::chrono::seconds>(record.Started().time_since_epoch()).count();
  status.runFinished = finished;
  status.exitStatus = exitStatus;
  // A run that a bound ended is an error even when it installed a package
  // first (exit status 4).
  status.outcome = record.EndedByBound() && exitStatus != 0 && exitStatus < 128
                       ? "error"
                       : RunOutcomeName(exitStatus, record.InstalledCount() > 0);
  status.message = record.Message();
  status.packages = record.Packages();
  status.packagesOmitted = record.OmittedCount();
  status.heldByPhase = record.HeldByPhase();
  status.heldCount = record.HeldCount();
  status.bytesDownloaded = record.BytesDownloaded();
  status.recovery = record.Recovery();
  status.healthCheck = record.HealthCheck();
  const std::uint64_t failuresBefore = previous ? previous->consecutiveFailures : 0;
  const std::uint64_t installedBefore = previous ? previous->packagesInstalledTotal : 0;
  if (previous) status.lastSuccess = previous->lastSuccess;
  if (exitStatus == 0) {
    status.lastSuccess = finished;
    status.consecutiveFailures = 0;
  } else {
    status.consecutiveFailures = std::min(failuresBefore + 1, kMaxFigure);
  }
  status.packagesInstalledTotal = std::min(installedBefore + record.InstalledCount(), kMaxFigure);
  status.healthCheckRollbacksTotal =
      std::min((previous ? previous->healthCheckRollbacksTotal : 0) + record.HealthCheckRollbacks(),
               kMaxFigure);
  return status;
}

std::string RunStatusJson(const TRunStatus& status) {
  json packages = json::array();
  for (const TPackageEnding& p : status.packages)
    packages.push_back({{"name", p.name}, {"ending", p.ending}});
  json j = {
      {"schema", 1},
      {"updater_version", status.updaterVersion},
      {"action", status.action},
      {"run_started", IsoTime(status.runStarted)},
      {"run_finished", IsoTime(status.runFinished)},
      {"outcome", status.outcome},
      {"exit_status", status.exitStatus},
      {"message", status.message},
      {"packages", packages},
      {"last_success", status.lastSuccess ? json(IsoTime(*status.lastSuccess)) : json(nullptr)},
      {"consecutive_failures", status.consecutiveFailures},
      {"bytes_downloaded", status.bytesDownloaded},
      {"packages_installed_total", status.packagesInstalledTotal},
      {"source", status.source},
  };
  if (status.indexSequence) j["index_sequence"] = *status.indexSequence;
  if (!status.recovery.empty()) j["recovery"] = status.recovery;
  if (!status.healthCheck.empty()) j["health_check"] = status.healthCheck;
  if (status.healthCheckRollbacksTotal)
    j["health_check_rollbacks_total"] = status.healthCheckRollbacksTotal;
  if (status.packagesOmitted) j["packages_omitted"] = status.packagesOmitted;
  if (status.heldCount) {
    j["held_by_phase"] = status.heldByPhase;
    j["held_count"] = status.heldCount;
  }
  // Names and messages come from servers and packages and need not be UTF-8:
  // a byte that is not becomes U+FFFD rather than failing the whole file.
  // Everything past ASCII is written as \u escapes, so that the file holds
  // no byte a terminal obeys (a C1 control) and can be shown as it stands.
  return j.dump(2, ' ', true, json::error_handler_t::replace) + "\n";
}

std::optional<TRunStatus> ParseRunStatus(const std::string& text) {
  if (!NestingWithin(text, 8)) return std::nullopt;
  const json j = json::parse(text, nullptr, false);
  if (!j.is_object()) return std::nullopt;
  const auto field = [&j](const char* name) -> const json* {
    const auto it = j.find(name);
    return it == j.end() ? nullptr : &*it;
  };
  const auto text_of = [&](const char* name, std::string& out, bool required = true) {
    const json* v = field(name);
    if (!v) return !required;
    if (!v->is_string()) return false;
    out = v->get<std::string>();
    return true;
  };
  const auto figure_of = [&](const char* name, std::uint64_t& out) {
    const json* v = field(name);
    if (!v || !IsFigure(*v)) return false;
    out = v->get<std::uint64_t>();
    return true;
  };
  const auto time_of = [&](const char* name, std::int64_t& out) {
    const json* v = field(name);
    if (!v || !v->is_string()) return false;
    const std::optional<std::int64_t> t = ParseIsoTime(v->get<std::string>());
    if (!t) return false;
    out = *t;
    return true;
  };
  const json* schema = field("schema");
  if (!schema || !schema->is_number_unsigned() || schema->get<std::uint64_t>() != 1)
    return std::nullopt;
  TRunStatus s;
  std::uint64_t exitStatus = 0;
  if (!text_of("updater_version", s.updaterVersion) || !text_of("action", s.action, false) ||
      !time_of("run_started", s.runStarted) || !time_of("run_finished", s.runFinished) ||
      !text_of("outcome", s.outcome) || !figure_of("exit_status", exitStatus) || exitStatus > 255 ||
      !text_of("message", s.message) || !figure_of("consecutive_failures", s.consecutiveFailures) ||
      !figure_of("bytes_downloaded", s.bytesDownloaded) ||
      !figure_of("packages_installed_total", s.packagesInstalledTotal) ||
      !text_of("source", s.source) || !text_of("recovery", s.recovery, false) ||
      !text_of("health_check", s.healthCheck, false))
    return std::nullopt;
  s.exitStatus = static_cast<int>(exitStatus);
  const json* last = field("last_success");
  if (last && !last->is_null()) {
    std::int64_t t = 0;
    if (!time_of("last_success", t)) return std::nullopt;
    s.lastSuccess = t;
  }
  if (const json* sequence = field("index_sequence")) {
    // Any unsigned 64-bit number: the index's own counter.
    if (!sequence->is_number_unsigned()) return std::nullopt;
    s.indexSequence = sequence->get<std::uint64_t>();
  }
  if (field("packages_omitted") && !figure_of("packages_omitted", s.packagesOmitted))
    return std::nullopt;
  if (const json* held = field("held_by_phase")) {
    if (!held->is_array()) return std::nullopt;
    for (const json& name : *held) {
      if (!name.is_string()) return std::nullopt;
      s.heldByPhase.push_back(name.get<std::string>());
    }
    if (!figure_of("held_count", s.heldCount) || s.heldCount < s.heldByPhase.size())
      return std::nullopt;
  }
  if (field("health_check_rollbacks_total") &&
      !figure_of("health_check_rollbacks_total", s.healthCheckRollbacksTotal))
    return std::nullopt;
  const json* packages = field("packages");
  if (!packages || !packages->is_array()) return std::nullopt;
  for (const json& p : *packages) {
    if (!p.is_object() || !p.contains("name") || !p.contains("ending") || !p["name"].is_string() ||
        !p["ending"].is_string())
      return std::nullopt;
    s.packages.push_back({p["name"].get<std::string>(), p["ending"].get<std::string>()});
  }
  return s;
}

std::string PrintableStatusJson(const std::string& text) {
  const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 0x20 && c < 0x7f) || c == '\n' || c == '\r' || c == '\t';
  });
  if (printable) return text;
  if (!NestingWithin(text, 8)) return "";
  const json j = json::parse(text, nullptr, false);
  if (j.is_discarded()) return "";
  return j.dump(2, ' ', true, json::error_handler_t::replace) + "\n";
}

std::string RunStatusText(const TRunStatus& s) {
  const auto line = [](const char* name, const std::string& value) {
    std::string text = name;
    text.resize(std::max<std::size_t>(text.size() + 1, 22), ' ');
    return text + base::EscapeControlCharacters(value) + "\n";
  };
  std::string out;
  out += line("Last run:", IsoTime(s.runStarted) + " to " + IsoTime(s.runFinished) +
                               (s.action == "update" ? "" : " (" + s.action + ")"));
  out += line("Outcome:", s.outcome + " (exit status " + std::to_string(s.exitStatus) + ")");
  if (!s.message.empty()) out += line("Message:", s.message);
  if (!s.recovery.empty()) out += line("Recovery:", s.recovery);
  if (!s.healthCheck.empty()) out += line("Health check:", s.healthCheck);
  for (std::size_t i = 0; i < s.packages.size(); ++i)
    out += line(i == 0 ? "Packages:" : "", s.packages[i].name + " ... " + s.packages[i].ending);
  if (s.packages.empty()) out += line("Packages:", "none");
  if (s.packagesOmitted)
    out += line("", "and " + std::to_string(s.packagesOmitted) + " more not listed");
  for (std::size_t i = 0; i < s.heldByPhase.size(); ++i)
    out += line(i == 0 ? "Held back by phase:" : "", s.heldByPhase[i]);
  if (s.heldCount > s.heldByPhase.size())
    out += line("", "and " + std::to_string(s.heldCount - s.heldByPhase.size()) + " more held");
  out += line("Last success:", s.lastSuccess ? IsoTime(*s.lastSuccess) : "never");
  out += line("Failures in a row:", std::to_string(s.consecutiveFailures));
  out += line("Downloaded:", std::to_string(s.bytesDownloaded) + " bytes");
  out += line("Installed in all:", std::to_string(s.packagesInstalledTotal) +
                                       (s.packagesInstalledTotal == 1 ? " package" : " packages"));
  out += line("Source:", s.source);
  if (s.indexSequence) out += line("Index sequence:", std::to_string(*s.indexSequence));
  out += line("Updater version:", s.updaterVersion);
  return out;
}

}  // namespace krevo::app
