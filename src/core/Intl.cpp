#include "core/Intl.h"

#include <libintl.h>

#include <atomic>
#include <clocale>

namespace zev {

static std::atomic<bool> gBound{false};

void InitTranslations(const char* localeDir) {
  // Only LC_MESSAGES follows the user's locale: numbers in files and on the wire must
  // never pick up a decimal comma.
  std::setlocale(LC_MESSAGES, "");
  bindtextdomain("default", localeDir);
  bind_textdomain_codeset("default", "UTF-8");
  gBound = true;
}

const char* Tr(const char* english) {
  if (!gBound || !english || !*english) return english;
  return dgettext("default", english);
}

}  // namespace zev
