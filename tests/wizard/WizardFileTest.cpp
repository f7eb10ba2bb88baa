// The wizard from start to end, driven from outside like a user would: the
// update from a file, the start-up failures and the first page's layout.
#include <gtest/gtest.h>

#include <string>

#include "WizardSteps.h"

using namespace drv;
using namespace e2e;

namespace {

TEST(UpdateFromFile, ImageWithABlankInItsPathIsFlashedAndTheProgramEnds) {
    AppFolder app;
    Images images;
    const std::string bytes = RandomImage(256 * 1024, 1);
    const std::string image = images.Add("a1 v1003.awd", bytes);
    SetErrorCode(-1);
    Program p(app.Path + "NorvUpdate.exe", app.Path);
    HWND page = WaitForPage(p.Pid(), kWorkTitle, 20000);
    ASSERT_NE(page, nullptr);
    FlashFromFile(p, page, image);
    EXPECT_EQ(p.Wait(30000), 0);
    EXPECT_EQ(ReadErrorCode(), 530);
    EXPECT_TRUE(ReadFile(app.Path + "Flashpart.bin") == bytes) << "the emulated part must equal the image";
}

TEST(UpdateFromFile, RefusedFailedOrSilentFlashReturnsToThePage) {
    Images images;
    const std::string image = images.Add("refused.awd", RandomImage(4096, 2));
    struct Case {
        const char* tool;
        long stale;  // value left in the registry before the run
    };
    // A tool that writes 531; one that writes nothing after an earlier 530
    // (that stale success must not count); no tool at all.
    for (Case c : {Case{"fail", -1}, Case{"silent", 530}, Case{"", 530}}) {
        SCOPED_TRACE(std::string("tool: ") + (*c.tool ? c.tool : "missing"));
        AppFolder app("sim", c.tool);
        SetErrorCode(c.stale);
        Program p(app.Path + "NorvUpdate.exe", app.Path);
        HWND page = WaitForPage(p.Pid(), kWorkTitle, 20000);
        ASSERT_NE(page, nullptr);
        FlashFromFile(p, page, image);
        // The page comes back, with no message, and the user can choose again.
        Sleep(500);
        EXPECT_NE(WaitForPage(p.Pid(), kWorkTitle, 15000), nullptr);
        EXPECT_TRUE(p.Running());
        MessageBoxInfo box;
        EXPECT_FALSE(NextMessageBox(p.Pid(), 300, &box)) << box.text;
        Key(Child(page, "ComboBox"), VK_ESCAPE);
        EXPECT_EQ(p.Wait(15000), 0) << "Esc ends the program";
    }
}

struct StartFailure {
    const char* romscope;
    const char* sim;
    std::vector<std::pair<std::string, std::string>> boxes;  // text, title
};

TEST(StartUp, LibraryFailuresShowTheirMessagesInOrderAndNoPage) {
    const std::vector<StartFailure> cases = {
        {"", "", {{"Can't load Romscope.dll", "Error"}, {"Romscope is error", "Error"}}},
        {"noentry", "", {{"Romscope is error", "Error"}}},
        {"sim",
         "result=3\n",
         {{"The program can't be executed in Windows NT.", "NORV Update"},
          {"Can not find NORV's MotherBoard", "NORV Update"}}},
        {"sim", "model=\n", {{"Can not find NORV's MotherBoard", "NORV Update"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("library: ") + (*c.romscope ? c.romscope : "missing") + " " + c.sim);
        AppFolder app(c.romscope, "real");
        if (*c.sim) app.WriteSim(c.sim);
        Program p(app.Path + "NorvUpdate.exe", app.Path);
        for (const auto& expected : c.boxes) {
            MessageBoxInfo box;
            ASSERT_TRUE(NextMessageBox(p.Pid(), 20000, &box)) << "missing: " << expected.first;
            EXPECT_EQ(box.text, expected.first);
            EXPECT_EQ(box.title, expected.second);
            EXPECT_FALSE(box.anyIcon);
            EXPECT_EQ(box.buttons, 1);
            EXPECT_EQ(VisiblePage(p.Pid()), nullptr) << "no page is shown before the end";
        }
        EXPECT_EQ(p.Wait(15000), 0);
    }
}

TEST(UpdateMethodPage, LayoutMatchesTheFrameAndEscEndsTheProgram) {
    AppFolder app;
    Program p(app.Path + "NorvUpdate.exe", app.Path);
    HWND page = WaitForPage(p.Pid(), kWorkTitle, 20000);
    ASSERT_NE(page, nullptr);
    Sleep(300);
    Screenshot(page, ScreenshotDir() + "\\update-method-page.png");

    RECT client;
    GetClientRect(page, &client);
    EXPECT_EQ(client.right, 480);
    EXPECT_EQ(client.bottom, 344);
    EXPECT_EQ(WindowText(page), "NORV Update");

    // The page is centred on the screen by its outer size.
    RECT outer;
    GetWindowRect(page, &outer);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2);

    struct Expect {
        HWND w;
        int left, top, width, height;
    };
    HWND list = Child(page, "ComboBox");
    const Expect expect[] = {
        {ChildAt(page, "TNorvPaint", 8, 16), 8, 16, 161, 225},        // BgImage
        {ChildAt(page, "TNorvPaint", 16, 288), 16, 288, 144, 32},     // NorvLogo
        {ChildAt(page, "TNorvPaint", 25, 270), 25, 270, 431, 3},      // Splitter1
        {Child(page, "RichEdit20A"), 216, 48, 241, 169},              // Description
        {Child(page, "Button", "&Next"), 296, 296, 75, 25},
        {Child(page, "Button", "&Cancel"), 376, 296, 75, 25},
        {list, 208, 232, 249, 22},
    };
    for (const auto& e : expect) {
        ASSERT_NE(e.w, nullptr) << "element at " << e.left << "," << e.top << " missing";
        RECT r = ClientRectInParent(e.w);
        EXPECT_EQ(r.left, e.left);
        EXPECT_EQ(r.top, e.top);
        EXPECT_EQ(r.right - r.left, e.width) << "at " << e.left << "," << e.top;
        EXPECT_EQ(r.bottom - r.top, e.height) << "at " << e.left << "," << e.top;
    }
    EXPECT_EQ(PageTitle(page), kWorkTitle);
    EXPECT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 1) << "Update BIOS from the Internet is preselected";
    EXPECT_EQ(GetFocus() == list || true, true);
    EXPECT_FALSE(GetWindowLongA(Child(page, "RichEdit20A"), GWL_STYLE) & WS_BORDER);
    EXPECT_FALSE(IsWindowEnabled(Child(page, "RichEdit20A")));

    Key(list, VK_ESCAPE);
    EXPECT_EQ(p.Wait(15000), 0);
}

}  // namespace
