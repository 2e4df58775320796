#include <gtest/gtest.h>

#include "settings/run_entry.h"

namespace
{
TEST(RunEntryCommand, QuotesThePathSoSpacesCannotSplitIt)
{
    EXPECT_EQ(RunEntryCommand(L"C:\\Program Files\\Tonefork\\Tonefork.exe"),
              L"\"C:\\Program Files\\Tonefork\\Tonefork.exe\"");
    // Quoted even without spaces, so every entry has the same shape.
    EXPECT_EQ(RunEntryCommand(L"D:\\Tonefork.exe"), L"\"D:\\Tonefork.exe\"");
}

TEST(RunEntryCommand, UnknownPathGivesNoCommand)
{
    EXPECT_EQ(RunEntryCommand(L""), L"");
}
}  // namespace
