// Helpers for Win32 tests: find and read windows, answer message boxes from a
// second thread while the test's thread sits in a modal loop, screenshots.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace drv {

// The environment value, or fallback when unset.
std::string Env(const char* name, const std::string& fallback = "");

// A driver's time limit for something the program under test must do, scaled
// by NORV_TIME_SCALE (a whole number, default 1): under qemu's emulation of
// 32-bit code every process takes half a minute to start. Every deadline wait
// of the driver goes through it; its deadlines are upper bounds, so a larger
// scale only waits longer for what does not come.
int Patience(int ms);

std::string WindowText(HWND w);
std::string ClassName(HWND w);
RECT ClientRectInParent(HWND child);

// Polls until a visible top-level window of the given process (0: any) has
// the title (and class, when not empty); nullptr after timeoutMs.
HWND WaitForWindow(const std::string& title, const std::string& cls, DWORD pid, int timeoutMs);

// A message box as the user sees it.
struct MessageBoxInfo {
    std::string title;
    std::string text;
    bool stopIcon = false;
    bool anyIcon = false;
    int buttons = 0;
};

// Reads a message box window and presses its first button.
MessageBoxInfo ReadAndDismiss(HWND box);

// Runs on its own thread: answers every message box of this process that
// appears, recording each, until Stop().
class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    void Stop();
    std::vector<MessageBoxInfo> Seen();

private:
    void Loop();
    std::atomic<bool> stop_{false};
    CRITICAL_SECTION lock_;
    std::vector<MessageBoxInfo> seen_;
    std::thread thread_;
};

// Captures the window (frame included) from the screen into a PNG file.
// Creates the folder when needed; returns false when nothing could be written.
bool Screenshot(HWND w, const std::string& pngPath);

// Folder for screenshots: NORV_SCREENSHOTS, else "screenshots" in the current folder.
std::string ScreenshotDir();

}  // namespace drv

// Writes 24-bit RGB rows (top to bottom) as a PNG file.
bool WritePng(const std::string& path, int width, int height, const std::vector<unsigned char>& rgb);
