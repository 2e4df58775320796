// Path joining, the executable folder rule and the borderless window's hit test.
#include <gtest/gtest.h>

#include "app/hit_test.h"
#include "common/path_rules.h"

TEST(JoinPath, AddsOneSeparatorOnlyWhereNeeded)
{
    EXPECT_EQ(JoinPath(L"", L"log.txt"), L"log.txt");
    EXPECT_EQ(JoinPath(L"C:\\App", L"log.txt"), L"C:\\App\\log.txt");
    EXPECT_EQ(JoinPath(L"C:\\App\\", L"log.txt"), L"C:\\App\\log.txt");
    EXPECT_EQ(JoinPath(L"C:/App/", L"assets"), L"C:/App/assets");
    EXPECT_EQ(JoinPath(JoinPath(L"C:\\App", L"assets"), L"logo.png"), L"C:\\App\\assets\\logo.png");
}

TEST(DirectoryOfModulePath, CutsAtTheLastSeparatorAndDistrustsCutPaths)
{
    const std::wstring exe = L"C:\\Program Files\\Tonefork\\Tonefork.exe";
    EXPECT_EQ(DirectoryOfModulePath(exe.c_str(), exe.size()), L"C:\\Program Files\\Tonefork");
    const std::wstring mixed = L"Z:/tmp\\dist/Tonefork.exe";
    EXPECT_EQ(DirectoryOfModulePath(mixed.c_str(), mixed.size()), L"Z:/tmp\\dist");
    EXPECT_EQ(DirectoryOfModulePath(L"Tonefork.exe", 12), L"Tonefork.exe");
    EXPECT_EQ(DirectoryOfModulePath(L"", 0), L".");
    const std::wstring full(kModulePathCapacity, L'a');
    EXPECT_EQ(DirectoryOfModulePath(full.c_str(), kModulePathCapacity), L".");
    EXPECT_EQ(DirectoryOfModulePath(full.c_str(), kModulePathCapacity - 1), std::wstring(kModulePathCapacity - 1, L'a'));
}

TEST(HitTestWindow, EdgesAndCornersResize)
{
    // A 516 x 720 client area at scale 1.
    EXPECT_EQ(HitTestWindow(0, 0, 516, 720, 1.0f), HitZone::TopLeft);
    EXPECT_EQ(HitTestWindow(510, 4, 516, 720, 1.0f), HitZone::TopRight);
    EXPECT_EQ(HitTestWindow(8, 712, 516, 720, 1.0f), HitZone::BottomLeft);
    EXPECT_EQ(HitTestWindow(516, 720, 516, 720, 1.0f), HitZone::BottomRight);
    EXPECT_EQ(HitTestWindow(2, 300, 516, 720, 1.0f), HitZone::Left);
    EXPECT_EQ(HitTestWindow(512, 300, 516, 720, 1.0f), HitZone::Right);
    EXPECT_EQ(HitTestWindow(200, 3, 516, 720, 1.0f), HitZone::Top);
    EXPECT_EQ(HitTestWindow(200, 715, 516, 720, 1.0f), HitZone::Bottom);
    // Negative coordinates are never near the left or top edge.
    EXPECT_EQ(HitTestWindow(-1, 300, 516, 720, 1.0f), HitZone::Client);
    EXPECT_EQ(HitTestWindow(200, -1, 516, 720, 1.0f), HitZone::Client);
}

TEST(HitTestWindow, TitleBarDragsExceptOverItsButtons)
{
    EXPECT_EQ(HitTestWindow(30, 30, 516, 720, 1.0f), HitZone::Client);
    EXPECT_EQ(HitTestWindow(71, 48, 516, 720, 1.0f), HitZone::Client);
    EXPECT_EQ(HitTestWindow(72, 30, 516, 720, 1.0f), HitZone::Caption);
    EXPECT_EQ(HitTestWindow(30, 49, 516, 720, 1.0f), HitZone::Caption);
    EXPECT_EQ(HitTestWindow(200, 30, 516, 720, 1.0f), HitZone::Caption);
    EXPECT_EQ(HitTestWindow(200, 60, 516, 720, 1.0f), HitZone::Caption);
    EXPECT_EQ(HitTestWindow(200, 61, 516, 720, 1.0f), HitZone::Client);
    EXPECT_EQ(HitTestWindow(200, 70, 516, 720, 1.0f), HitZone::Client);
    EXPECT_EQ(HitTestWindow(507, 30, 516, 720, 1.0f), HitZone::Caption);
    EXPECT_EQ(HitTestWindow(508, 30, 516, 720, 1.0f), HitZone::Right);
    EXPECT_EQ(HitTestWindow(520, 30, 516, 720, 1.0f), HitZone::Client);
}

TEST(HitTestWindow, TitleBarAndButtonBlockScaleWithTheLayout)
{
    // At scale 2 the title bar is 120 px high and the buttons reach 134 x 88.
    EXPECT_EQ(HitTestWindow(134, 88, 1032, 1440, 2.0f), HitZone::Client);
    EXPECT_EQ(HitTestWindow(135, 88, 1032, 1440, 2.0f), HitZone::Caption);
    EXPECT_EQ(HitTestWindow(300, 120, 1032, 1440, 2.0f), HitZone::Caption);
    EXPECT_EQ(HitTestWindow(300, 121, 1032, 1440, 2.0f), HitZone::Client);
    // At scale 0.5 the title bar ends at 30 px.
    EXPECT_EQ(HitTestWindow(300, 31, 516, 720, 0.5f), HitZone::Client);
}
