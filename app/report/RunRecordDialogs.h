#pragma once
// The dialogs of a run, watched for its errors: the run's message is the last
// error or failure the user was shown, whoever showed it (the run, the
// archive component, the default error display).
#include <string>

#include "app/report/RunRecord.h"
#include "base/Dialogs.h"

namespace krevo::app {

// Shows through `inner` (borrowed) and notes every error and warning it shows
// (MessageDlg of mtError or mtWarning, ShowError) in `record` (borrowed); both
// must outlive it.
class TRunRecordDialogs final : public base::TDialogService {
 public:
  TRunRecordDialogs(base::TDialogService& inner, TRunRecord& record)
      : inner_(inner), record_(record) {}
  int MessageDlg(const std::string& text, base::TMsgDlgType type, base::TMsgDlgButtons buttons,
                 const std::string& caption = "") override;
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override {
    return inner_.InputQuery(caption, prompt, value);
  }
  void ShowError(const std::string& title, const std::string& message) override;

 private:
  base::TDialogService& inner_;
  TRunRecord& record_;
};

}  // namespace krevo::app
