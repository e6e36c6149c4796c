#include "platform/Format.h"

#include <gtest/gtest.h>

#include "platform/Exception.h"

namespace driftpost {
namespace {

TEST(FormatTest, FillsPlaceholdersInOrder) {
  EXPECT_EQ(Format("Error %d in function %s", {10048, "Bind"}), "Error 10048 in function Bind");
  EXPECT_EQ(Format("Unbekannte Bilddateierweiterung (.%s)", {"XYZ"}), "Unbekannte Bilddateierweiterung (.XYZ)");
  EXPECT_EQ(Format("100%% %x %.4x %04X", {255, 10, 171}), "100% ff 000a 00AB");
  EXPECT_EQ(Format("%d", {-5}), "-5");
}

TEST(FormatTest, MissingArgumentsAndUnknownDirectivesAreHarmless) {
  EXPECT_EQ(Format("%s and %s", {"one"}), "one and ");
  EXPECT_EQ(Format("50%", {}), "50%");
  EXPECT_EQ(Format("%q", {1}), "%q");
}

TEST(FormatTest, SharedExceptionsCarryTheirFixedTexts) {
  EXPECT_EQ(EListError::IndexOutOfBounds(-1).Message(), "Der Index der Liste überschreitet das Maximum (-1)");
  EXPECT_EQ(EFOpenError::ForFile("/x/y").Message(), "Datei /x/y kann nicht geöffnet werden");
  EXPECT_EQ(EReadError().Message(), "Stream-Lesefehler");
}

}  // namespace
}  // namespace driftpost
