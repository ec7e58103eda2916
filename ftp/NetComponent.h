#pragma once
// TNetComponent: the base of the FTP client's components. It carries
// the status and work events and keeps the process-wide socket stack alive: the
// first component of the process creates the stack, the last one frees it.
#include <cstdint>
#include <string>

#include "ftp/NetTypes.h"

namespace krevo::ftp {

class TNetStack;

// The root of the component tree; it holds nothing of its own.
class TNetBaseComponent {
 public:
  TNetBaseComponent() = default;
  virtual ~TNetBaseComponent() = default;
  TNetBaseComponent(const TNetBaseComponent&) = delete;
  TNetBaseComponent& operator=(const TNetBaseComponent&) = delete;
};

class TNetComponent : public TNetBaseComponent {
 public:
  TNetComponent();
  ~TNetComponent() override;

  TNetStatusEvent OnStatus;
  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;

  // Work brackets: only the outermost StartWork/FinishWork of a
  // mode fire OnWorkBegin/OnWorkEnd; AddWork fires OnWork with the running total
  // while a bracket is open and does nothing outside one.
  virtual void StartWork(TWorkMode mode, std::int64_t max);
  virtual void AddWork(TWorkMode mode, std::int64_t count);
  virtual void FinishWork(TWorkMode mode);

  // The running count, announced maximum and nesting level of `mode`.
  std::int64_t WorkCount(TWorkMode mode) const { return work_[mode].count; }
  std::int64_t WorkCountMax(TWorkMode mode) const { return work_[mode].max; }
  int WorkLevel(TWorkMode mode) const { return work_[mode].level; }

  // The process-wide stack; exists while any TNetComponent exists.
  static TNetStack& Stack();
  // The number of live components (the stack exists exactly while it is > 0).
  static int InstanceCount();

 protected:
  // Fires OnStatus with the formatted text, when assigned (the text is formatted
  // only then).
  void DoStatus(TNetStatus status, const std::string& argument = {});

 private:
  struct TWorkInfo {
    std::int64_t count = 0;
    std::int64_t max = 0;
    int level = 0;
  };
  TWorkInfo work_[2];
};

}  // namespace krevo::ftp
