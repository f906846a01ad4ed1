#include "editions/Catalogue.h"

#include <gtest/gtest.h>

TEST(CatalogueSmoke, Builds) { EXPECT_EQ(velmora::text(velmora::Edition::Japanese, velmora::TextKey::Form1Caption), "Velmora"); }
