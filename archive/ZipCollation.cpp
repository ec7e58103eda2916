#include "archive/ZipCollation.h"

#include <cstdlib>
#include <cwctype>
#include <memory>

namespace krevo::archive {
namespace {

std::unique_ptr<TZipCollation>& Slot() {
  static std::unique_ptr<TZipCollation> slot;
  return slot;
}

unsigned gGeneration = 0;

// What setlocale(LC_CTYPE, "") would choose.
std::string EnvironmentLocale() {
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return v;
  }
  return "C";
}

}  // namespace

TZipCollation::TZipCollation(const std::string& name) {
  turkish_ = name.rfind("tr_", 0) == 0 || name == "tr";
  if (name != "C" && name != "POSIX") locale_ = newlocale(LC_CTYPE_MASK, name.c_str(), locale_);
  // Names are UTF-8 whatever the user's locale says, so the plain "C" locale
  // (or one not installed) is replaced by its UTF-8 form for case mapping.
  if (!locale_) locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
}

TZipCollation::~TZipCollation() {
  if (locale_) freelocale(locale_);
}

TZipCollation& TZipCollation::Instance() {
  auto& slot = Slot();
  if (!slot) slot.reset(new TZipCollation(EnvironmentLocale()));
  return *slot;
}

void TZipCollation::UseLocale(const std::string& name) {
  Slot().reset(new TZipCollation(name));
  ++gGeneration;
}

unsigned TZipCollation::Generation() { return gGeneration; }

char32_t TZipCollation::Upper(char32_t c) const {
  if (turkish_) {
    if (c == U'i') return U'\u0130';
    if (c == U'\u0131') return U'I';
  }
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
  if (!locale_ || c > 0x10FFFF) return c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale_));
}

bool SameChar(char32_t a, char32_t b, bool ignoreCase) {
  if (a == b) return true;
  if (!ignoreCase) return false;
  const TZipCollation& c = TZipCollation::Instance();
  return c.Upper(a) == c.Upper(b);
}

}  // namespace krevo::archive
