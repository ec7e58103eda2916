#include "app/report/RunRecord.h"

#include <utility>

namespace krevo::app {

void TRunRecord::AddPackage(const std::string& name, const std::string& ending) {
  constexpr std::string_view kLead = " ... ";
  std::string_view bare = ending;
  if (bare.starts_with(kLead)) bare.remove_prefix(kLead.size());
  if (bare == "complete") ++installed_;
  if (packages_.size() < kMaxListedPackages)
    packages_.push_back({name, std::string(bare)});
  else
    ++omitted_;
}

void TRunRecord::AddHeldByPhase(const std::string& name) {
  ++heldCount_;
  if (held_.size() < kMaxListedPackages) held_.push_back(name);
}

void TRunRecord::Work(std::int64_t count) {
  // A running total that went back belongs to a transfer that started
  // anew without a bracket of its own.
  const std::int64_t added = count >= workCount_ ? count - workCount_ : count;
  if (added > 0) bytes_ += static_cast<std::uint64_t>(added);
  workCount_ = count;
}

void TRunRecord::NoteError(const std::string& text) {
  if (std::exchange(skipNextError_, false)) return;
  message_ = text.substr(0, kMaxMessageBytes);
}

}  // namespace krevo::app
