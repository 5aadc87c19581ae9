#pragma once
// Every user-visible text goes through Tr(): with a message catalogue for the user's
// language the translation is returned, otherwise the English text itself.
namespace zev {

// Binds the text domain "default" to `localeDir` (holding <lang>/LC_MESSAGES/default.mo).
void InitTranslations(const char* localeDir);
const char* Tr(const char* english);

}  // namespace zev
