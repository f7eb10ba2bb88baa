// The wizard on a machine where Windows Sockets cannot open a socket: the
// start-up falls back to the update from a file. winsock-failed.sh starts the
// wizard under such a wineserver and then this driver.
#include <gtest/gtest.h>

#include "Program.h"

using namespace drv;

TEST(WinsockFailed, OnlyTheUpdateFromAFileIsOffered) {
    if (Env("NORV_WSFAIL").empty()) GTEST_SKIP() << "run by winsock-failed.sh";
    HWND page = WaitForPage(0, "Select the Update Method", 30000);
    ASSERT_NE(page, nullptr) << "the start-up must fall back to the file-only wizard";
    Sleep(300);
    Screenshot(page, ScreenshotDir() + "\\update-method-page-file-only.png");
    HWND list = Child(page, "ComboBox");
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(IsWindowEnabled(list));
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(ComboText(list, 0), "Update BIOS from a file");

    // Next leads straight to the file dialog; a cancel returns to the page.
    Click(Child(page, "Button", "&Next"));
    HWND dlg = WaitForFileDialog(0, 10000);
    ASSERT_NE(dlg, nullptr);
    Sleep(200);
    CancelFileDialog(dlg);
    ASSERT_NE(WaitForPage(0, "Select the Update Method", 10000), nullptr);
    Key(list, VK_ESCAPE);
    for (int i = 0; i < 200 && IsWindow(page) && IsWindowVisible(page); ++i) Sleep(50);
    EXPECT_FALSE(IsWindow(page) && IsWindowVisible(page)) << "Esc ends the program";
}
