#pragma once
// The application object: its title and the default error display for errors
// that no handler caught.
#include <exception>
#include <functional>
#include <string>

namespace krevo::app {

class TApplication final {
 public:
  // `title`: the executable's name without folder and extension, first
  // character in upper case and the rest in lower case (base::ApplicationTitle).
  explicit TApplication(std::string title) : title_(std::move(title)) {}

  const std::string& Title() const { return title_; }

  // The default error display: a silent abort shows nothing; any other error's
  // message goes to base::Dialogs().ShowError under the title, with a full
  // stop appended where its last character sorts after '.'.
  void HandleException(const std::exception& e);

  // Runs `handler`; an exception it throws is shown by the default error
  // display instead of propagating. Returns false when it threw.
  bool Guard(const std::function<void()>& handler);

  // Whether the default error display has shown an error.
  bool ErrorShown() const { return errorShown_; }

 private:
  std::string title_;
  bool errorShown_ = false;
};

}  // namespace krevo::app
