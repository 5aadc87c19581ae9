#include "core/Intl.h"

#include <gtest/gtest.h>
#include <stdlib.h>

using namespace zev;

TEST(Intl, CatalogueTranslatesAndItsAbsenceLeavesEnglish) {
  // C.UTF-8 exists on every Debian system; LANGUAGE then picks the catalogue.
  setenv("LC_ALL", "C.UTF-8", 1);
  setenv("LANGUAGE", "de", 1);
  InitTranslations(ZEV_TEST_LOCALE_DIR);
  EXPECT_STREQ(Tr("Loading configuration..."), "Konfiguration wird geladen...");
  EXPECT_STREQ(Tr("No translation for this one"), "No translation for this one");
  InitTranslations("/nonexistent/locale");
  EXPECT_STREQ(Tr("Loading configuration..."), "Loading configuration...");
  setenv("LANGUAGE", "fr", 1);
  InitTranslations(ZEV_TEST_LOCALE_DIR);
  EXPECT_STREQ(Tr("Loading configuration..."), "Loading configuration...");
  unsetenv("LANGUAGE");
  unsetenv("LC_ALL");
}
