#pragma once
// Enumerations and event types shared by the FTP client's classes.
#include <cstdint>
#include <functional>
#include <string>

namespace krevo::ftp {

class TNetComponent;

enum TWorkMode { wmRead, wmWrite };

enum TNetStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted,
};

enum TNetMaxLineAction { maException, maSplit };

// The status text of `status` with its argument filled in ("Resolving hostname
// %s.", "Connecting to %s.", "Connected.", ...; the last four are "%s").
std::string NetStatusText(TNetStatus status, const std::string& argument);

// Work counts are 64-bit: a transfer past 2 GiB must not overflow them. `AWorkCount` is the running total of the current work bracket.
using TWorkBeginEvent =
    std::function<void(TNetComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCountMax)>;
using TWorkEvent =
    std::function<void(TNetComponent* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TNetComponent* ASender, TWorkMode AWorkMode)>;
using TNetStatusEvent =
    std::function<void(TNetComponent* ASender, TNetStatus AStatus, const std::string& AStatusText)>;
using TNotifyEvent = std::function<void(TNetComponent* ASender)>;

// Wait without a time limit, for the socket waits.
constexpr int kInfiniteWait = -2;

}  // namespace krevo::ftp
