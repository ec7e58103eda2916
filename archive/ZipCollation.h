#pragma once
// The character comparison under the user's locale, built once per process.
// Names are UTF-8; characters are code points. The case rule is towupper of
// the user's LC_CTYPE locale (taken from LC_ALL, LC_CTYPE or LANG, as
// setlocale(LC_CTYPE, "") would, but without changing the process's locale),
// with the Turkish rule where that locale is Turkish: upper(i) is U+0130 and
// upper(U+0131, dotless i) is I.
#include <locale.h>

#include <string>

namespace krevo::archive {

class TZipCollation final {
 public:
  // The process's collation; built on first use from the environment.
  static TZipCollation& Instance();
  // Rebuilds the process's collation for a named locale ("tr_TR.UTF-8", "C",
  // ...); used by tests and by owners that want a fixed rule. Not thread-safe.
  static void UseLocale(const std::string& name);
  // Changes with every UseLocale: what was keyed under one rule is keyed
  // again under the next.
  static unsigned Generation();

  ~TZipCollation();
  TZipCollation(const TZipCollation&) = delete;
  TZipCollation& operator=(const TZipCollation&) = delete;

  char32_t Upper(char32_t c) const;
  bool Turkish() const { return turkish_; }

 private:
  explicit TZipCollation(const std::string& name);
  locale_t locale_ = static_cast<locale_t>(0);
  bool turkish_ = false;
};

// Are two characters the same? With ignoreCase their upper-case forms are
// compared under TZipCollation.
bool SameChar(char32_t a, char32_t b, bool ignoreCase);

}  // namespace krevo::archive
