#include <gtest/gtest.h>

#include "app/LocalText.h"
#include "app/MessagePump.h"
#include "app/TfrmData.h"
#include "platform/os.h"
#include "tests/support/fake_os.h"
#include "tests/support/test_program_folder.h"

namespace {

TEST(MessagePump, ThrottledPumpLetsEventsThroughOncePerInterval) {
  testing_support::FakeOs fake;
  platform::ScopedOs scope(fake);
  fake.clockStep = 10;  // every reading of the clock is 10 ms later
  int pumped = 0;
  ScopedMessagePump counting([&] { pumped++; });
  ThrottledPump pump(30);
  int calls = 0;
  while (calls < 10) {
    pump.Pump();
    calls++;
  }
  EXPECT_EQ(pumped, 4);  // at 0, 30, 60 and 90 ms
}

// A translated format is used only when it takes the values the program's
// own text takes; Windows-1252 text of the library arrives as Unicode.
TEST(LocalText, FormatsFallBackOnTheProgramsTextForAMismatchedTranslation) {
  EXPECT_EQ(LocalFormat(10, "%d éléments", {3}), QString::fromUtf8("3 éléments"));
  TestProgramFolder folder(SmallLanguageLibrary());
  TfrmData data;
  EXPECT_EQ(LocalFormat(9, "%d éléments", {3}), QString::fromUtf8("3 éléments"));
  EXPECT_EQ(LocalFormat(10, "%d items", {3}), QString::fromUtf8("3 éléments"));
  EXPECT_EQ(LocalFormat(7, "Trouvé(s) : %d", {5}), QString::fromUtf8("Trouvé(s) : 5"));
  EXPECT_EQ(LocalText(8, "x"), "string 8");
}

}  // namespace
