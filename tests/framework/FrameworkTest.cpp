#include <gtest/gtest.h>

#include "Controls.h"
#include "Driver.h"
#include "Forms.h"
#include "Wait.h"

namespace {

const COLORREF kPageColour = RGB(193, 193, 193);

struct Page : TForm {
    Page() : TForm(nullptr, 480, 344, "NORV Update") {
        SetColor(kPageColour);
        Next = new TButton(this, 296, 296, 75, 25, "&Next");
        Next->SetDefault(true);
        Cancel = new TButton(this, 376, 296, 75, 25, "&Cancel");
        CancelButton = Cancel;
        List = new TComboBox(this, 208, 232, 249, 22);
        List->Add("first");
        List->Add("second");
        List->SetItemIndex(1);
        ActiveControl = List;
    }
    TButton* Next;
    TButton* Cancel;
    TComboBox* List;
};

void Pump(int ms) {
    DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    while (GetTickCount() < end) WaitPass();
}

TEST(PageFrame, LiveWindowHasTheClientSizeColourAndLayout) {
    Page page;
    page.SetPosition(40, 40);
    page.Show();
    Pump(300);

    RECT client;
    GetClientRect(page.Handle(), &client);
    EXPECT_EQ(client.right, 480);
    EXPECT_EQ(client.bottom, 344);
    EXPECT_EQ(drv::WindowText(page.Handle()), "NORV Update");
    LONG style = GetWindowLongA(page.Handle(), GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the frame must not be resizable";
    EXPECT_TRUE(style & WS_SYSMENU);

    HDC dc = GetDC(page.Handle());
    COLORREF px = GetPixel(dc, 5, 5);
    ReleaseDC(page.Handle(), dc);
    EXPECT_EQ(px, kPageColour);

    RECT list = page.List->BoundsRect();
    EXPECT_EQ(list.left, 208);
    EXPECT_EQ(list.top, 232);
    EXPECT_EQ(list.right - list.left, 249);
    EXPECT_EQ(list.bottom - list.top, 22);
    EXPECT_EQ(SendMessageA(page.List->Handle(), CB_GETITEMHEIGHT, 0, 0), 16);

    EXPECT_TRUE(drv::Screenshot(page.Handle(), drv::ScreenshotDir() + "/frame.png"));
}

TEST(PageFrame, EnterPressesTheDefaultButtonAndEscTheCancelButton) {
    Page page;
    int next = 0, cancel = 0;
    page.Next->OnClick = [&](TObject*) { ++next; };
    page.Cancel->OnClick = [&](TObject*) { ++cancel; };
    page.Show();
    Pump(200);
    HWND focus = page.List->Handle();
    SetFocus(focus);
    PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageA(focus, WM_KEYUP, VK_RETURN, 0);
    Pump(200);
    EXPECT_EQ(next, 1);
    PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0);
    Pump(200);
    EXPECT_EQ(cancel, 1);

    page.Next->SetEnabled(false);
    PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 0);
    Pump(200);
    EXPECT_EQ(next, 1) << "a disabled default button must not be pressed";
}

TEST(ExceptionReport, HandlerExceptionShowsAStopBoxTitledWithTheProgramName) {
    Page page;
    page.Next->OnClick = [](TObject*) { throw Exception("Nothing to flash"); };
    page.Cancel->OnClick = [](TObject*) { throw Exception("Already final."); };
    page.Show();
    drv::MessageBoxWatcher watcher;
    SendMessageA(page.Handle(), WM_COMMAND, MAKEWPARAM(page.Next->Id(), BN_CLICKED),
                 reinterpret_cast<LPARAM>(page.Next->Handle()));
    SendMessageA(page.Handle(), WM_COMMAND, MAKEWPARAM(page.Cancel->Id(), BN_CLICKED),
                 reinterpret_cast<LPARAM>(page.Cancel->Handle()));
    watcher.Stop();
    auto seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].title, "framework_win32_test");
    EXPECT_EQ(seen[0].text, "Nothing to flash.");
    EXPECT_TRUE(seen[0].stopIcon);
    EXPECT_EQ(seen[0].buttons, 1);
    EXPECT_EQ(seen[1].text, "Already final.") << "a message that ends in a full stop keeps only that one";
    EXPECT_TRUE(page.Visible()) << "the page stays where it was";
}

// Timer procedures are __stdcall in 32 bits, which a lambda cannot be.
void CALLBACK TerminateOnTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    Application->Terminate();
}

void CALLBACK StopTimer(HWND, UINT, UINT_PTR id, DWORD) { KillTimer(nullptr, id); }

TEST(Wait, TerminateEndsARunningWaitAndTheMessageLoop) {
    // A timer terminates the application while the wait's condition never holds.
    UINT_PTR timer = SetTimer(nullptr, 0, 100, TerminateOnTimer);
    ASSERT_NE(timer, 0u);
    DWORD start = GetTickCount();
    TWaitEnd end = WaitUntil([] { return false; });
    EXPECT_EQ(end, TWaitEnd::Terminated);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_TRUE(AppTerminating());
    // Run returns at once once the end was asked for.
    Application->Run();
    Application->Terminated = false;

    bool cancel = false;
    SetTimer(nullptr, 0, 50, StopTimer);
    int passes = 0;
    EXPECT_EQ(WaitUntil([&] { return ++passes > 3; }, &cancel), TWaitEnd::Done);
    cancel = true;
    EXPECT_EQ(WaitUntil([] { return false; }, &cancel), TWaitEnd::Canceled);
    TDeadline soon = TDeadline::In(30);
    EXPECT_EQ(WaitUntil([] { return false; }, nullptr, &soon), TWaitEnd::TimedOut);
    TDeadline none = TDeadline::In(0);
    EXPECT_EQ(WaitUntil([&] { return ++passes > 10; }, nullptr, &none), TWaitEnd::Done) << "0 is no limit";
}

TEST(RichEdit, LinesEndingInALineFeedLeaveAnEmptyLastLine) {
    Page page;
    TRichEdit::Options opt;
    TRichEdit box(&page, 208, 104, 249, 121, opt);
    box.AddLine("Supports new processors.\n");
    EXPECT_EQ(box.LineCount(), 2);
    box.DeleteLine(box.LineCount() - 1);
    box.AddLine("");
    box.DeleteLine(box.LineCount() - 1);
    box.AddLine("Fixes the clock.\n");
    box.DeleteLine(box.LineCount() - 1);
    EXPECT_EQ(box.Text(), "Supports new processors.\r\nFixes the clock.");
}

}  // namespace
