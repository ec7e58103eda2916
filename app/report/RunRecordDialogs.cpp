#include "app/report/RunRecordDialogs.h"

namespace krevo::app {

int TRunRecordDialogs::MessageDlg(const std::string& text, base::TMsgDlgType type,
                                  base::TMsgDlgButtons buttons, const std::string& caption) {
  if (type == base::TMsgDlgType::mtError || type == base::TMsgDlgType::mtWarning)
    record_.NoteError(text);
  return inner_.MessageDlg(text, type, buttons, caption);
}

void TRunRecordDialogs::ShowError(const std::string& title, const std::string& message) {
  record_.NoteError(message);
  inner_.ShowError(title, message);
}

}  // namespace krevo::app
