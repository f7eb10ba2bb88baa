#include "Driver.h"

#include <direct.h>
#include <windows.h>

#include <cstdlib>

namespace drv {

std::string Env(const char* name, const std::string& fallback) {
    // The process's own environment, as SetEnvironmentVariable leaves it:
    // the C runtime's getenv answers from the copy it took at start-up, so a
    // value that a test sets for the programs it starts would not be seen.
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);  // with the terminator; 0: not set
    if (size <= 1) return fallback;
    std::string v(size, '\0');
    v.resize(GetEnvironmentVariableA(name, &v[0], size));
    return v.empty() ? fallback : v;
}

int Patience(int ms) {
    static const int scale = [] {
        const int v = std::atoi(Env("NORV_TIME_SCALE", "1").c_str());
        return v >= 1 && v <= 100 ? v : 1;
    }();
    return ms * scale;
}

std::string WindowText(HWND w) {
    char buf[4096] = {};
    // WM_GETTEXT works across threads and for controls of other processes.
    SendMessageTimeoutA(w, WM_GETTEXT, sizeof(buf), reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

std::string ClassName(HWND w) {
    char buf[256] = {};
    GetClassNameA(w, buf, sizeof(buf));
    return buf;
}

RECT ClientRectInParent(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

namespace {
struct FindArgs {
    const std::string* title;
    const std::string* cls;
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindProc(HWND w, LPARAM lp) {
    auto* a = reinterpret_cast<FindArgs*>(lp);
    if (!IsWindowVisible(w)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (a->pid && pid != a->pid) return TRUE;
    if (!a->cls->empty() && ClassName(w) != *a->cls) return TRUE;
    if (WindowText(w) != *a->title) return TRUE;
    a->found = w;
    return FALSE;
}
}  // namespace

HWND WaitForWindow(const std::string& title, const std::string& cls, DWORD pid, int timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        FindArgs a = {&title, &cls, pid, nullptr};
        EnumWindows(FindProc, reinterpret_cast<LPARAM>(&a));
        if (a.found) return a.found;
        if (static_cast<int>(GetTickCount() - start) > Patience(timeoutMs)) return nullptr;
        Sleep(20);
    }
}

MessageBoxInfo ReadAndDismiss(HWND box) {
    MessageBoxInfo info;
    info.title = WindowText(box);
    HICON stop = LoadIcon(nullptr, IDI_HAND);
    HWND firstButton = nullptr;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        std::string cls = ClassName(c);
        LONG style = GetWindowLongA(c, GWL_STYLE);
        if (cls == "Static") {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                HICON icon = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
                if (icon && IsWindowVisible(c)) {
                    info.anyIcon = true;
                    if (icon == stop) info.stopIcon = true;
                }
            } else {
                std::string t = WindowText(c);
                if (!t.empty()) info.text = t;
            }
        } else if (cls == "Button") {
            ++info.buttons;
            if (!firstButton) firstButton = c;
        }
    }
    if (firstButton) {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(firstButton), BN_CLICKED),
                     reinterpret_cast<LPARAM>(firstButton));
    } else {
        PostMessageA(box, WM_CLOSE, 0, 0);
    }
    return info;
}

MessageBoxWatcher::MessageBoxWatcher() {
    InitializeCriticalSection(&lock_);
    thread_ = std::thread([this] { Loop(); });
}

MessageBoxWatcher::~MessageBoxWatcher() {
    Stop();
    DeleteCriticalSection(&lock_);
}

void MessageBoxWatcher::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::vector<MessageBoxInfo> MessageBoxWatcher::Seen() {
    EnterCriticalSection(&lock_);
    auto copy = seen_;
    LeaveCriticalSection(&lock_);
    return copy;
}

namespace {
BOOL CALLBACK FindBox(HWND w, LPARAM lp) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(w) || ClassName(w) != "#32770") return TRUE;
    // File dialogs are #32770 too; a message box has no edit or list controls.
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        std::string cls = ClassName(c);
        if (cls != "Static" && cls != "Button") return TRUE;
    }
    *reinterpret_cast<HWND*>(lp) = w;
    return FALSE;
}
}  // namespace

void MessageBoxWatcher::Loop() {
    HWND last = nullptr;
    while (!stop_) {
        HWND box = nullptr;
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
        if (box && box != last) {
            Sleep(50);  // let the box finish laying itself out
            MessageBoxInfo info = ReadAndDismiss(box);
            EnterCriticalSection(&lock_);
            seen_.push_back(info);
            LeaveCriticalSection(&lock_);
            last = box;
        } else if (!box) {
            last = nullptr;
        }
        Sleep(20);
    }
}

std::string ScreenshotDir() { return Env("NORV_SCREENSHOTS", "screenshots"); }

bool Screenshot(HWND w, const std::string& pngPath) {
    size_t slash = pngPath.find_last_of("\\/");
    if (slash != std::string::npos) {
        std::string dir = pngPath.substr(0, slash);
        for (size_t i = 1; i <= dir.size(); ++i)
            if (i == dir.size() || dir[i] == '\\' || dir[i] == '/') _mkdir(dir.substr(0, i).c_str());
    }
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT r;
    GetWindowRect(w, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    auto* px = static_cast<unsigned char*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        rgb[i * 3] = px[i * 4 + 2];
        rgb[i * 3 + 1] = px[i * 4 + 1];
        rgb[i * 3 + 2] = px[i * 4];
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return WritePng(pngPath, width, height, rgb);
}

}  // namespace drv
