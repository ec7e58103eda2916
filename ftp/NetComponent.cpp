#include "ftp/NetComponent.h"

#include <memory>
#include <mutex>

#include "ftp/NetStack.h"

namespace krevo::ftp {
namespace {

std::mutex gStackLock;
int gInstanceCount = 0;
std::unique_ptr<TNetStack> gStack;

}  // namespace

std::string NetStatusText(TNetStatus status, const std::string& argument) {
  switch (status) {
    case hsResolving: return "Resolving hostname " + argument + ".";
    case hsConnecting: return "Connecting to " + argument + ".";
    case hsConnected: return "Connected.";
    case hsDisconnecting: return "Disconnecting.";
    case hsDisconnected: return "Disconnected.";
    case hsStatusText:
    case ftpTransfer:
    case ftpReady:
    case ftpAborted: return argument;
  }
  return argument;
}

TNetComponent::TNetComponent() {
  std::lock_guard<std::mutex> lock(gStackLock);
  if (gInstanceCount == 0) gStack = std::make_unique<TNetStack>();
  ++gInstanceCount;
}

TNetComponent::~TNetComponent() {
  std::lock_guard<std::mutex> lock(gStackLock);
  if (--gInstanceCount == 0) gStack.reset();
}

TNetStack& TNetComponent::Stack() { return *gStack; }

int TNetComponent::InstanceCount() {
  std::lock_guard<std::mutex> lock(gStackLock);
  return gInstanceCount;
}

void TNetComponent::DoStatus(TNetStatus status, const std::string& argument) {
  if (OnStatus) OnStatus(this, status, NetStatusText(status, argument));
}

void TNetComponent::StartWork(TWorkMode mode, std::int64_t max) {
  TWorkInfo& w = work_[mode];
  if (++w.level == 1) {
    w.max = max;
    w.count = 0;
    if (OnWorkBegin) OnWorkBegin(this, mode, max);
  }
}

void TNetComponent::AddWork(TWorkMode mode, std::int64_t count) {
  TWorkInfo& w = work_[mode];
  if (w.level < 1) return;
  w.count += count;
  if (OnWork) OnWork(this, mode, w.count);
}

void TNetComponent::FinishWork(TWorkMode mode) {
  TWorkInfo& w = work_[mode];
  if (w.level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
  --w.level;
}

}  // namespace krevo::ftp
