// The flashing tool. No flash chip is reachable from here, so the "flash part"
// is a file, Flashpart.bin beside this program: the image is written into it,
// read back and compared, with a small progress window on the way. The
// outcome goes to HKLM\SOFTWARE\NORV\NORVUpdate, value "Error Code" (DWORD),
// and is also the exit code:
//   530 flashed   531 image missing or unreadable   532 image empty or larger
//   than the part   533 the part cannot be written   534 read-back differs
//   535 no image named on the command line
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ErrorCode.h"
#include "LibraryLoad.h"

namespace {
const DWORD kPartCapacity = 16u << 20;
HWND progressWindow = nullptr, progressBar = nullptr;

void Pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

void OpenProgress(HINSTANCE inst, const std::string& image) {
    // Bound on first call, from the system folder (norv_lazyimports).
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = inst;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "RomwriteWindow";
    RegisterClassA(&wc);
    int w = 320, h = 96;
    progressWindow = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "RomwriteWindow", "Romwrite - writing the BIOS",
                                     WS_POPUP | WS_CAPTION, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                                     (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, nullptr, nullptr, inst, nullptr);
    std::string label = "Image: " + image;
    CreateWindowExA(0, "STATIC", label.c_str(), WS_CHILD | WS_VISIBLE | SS_PATHELLIPSIS, 8, 6, w - 22, 16,
                    progressWindow, nullptr, inst, nullptr);
    progressBar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 8, 28, w - 22, 18, progressWindow,
                                  nullptr, inst, nullptr);
    SendMessageA(progressBar, PBM_SETRANGE32, 0, 200);
    ShowWindow(progressWindow, SW_SHOWNOACTIVATE);
    Pump();
}

void Progress(int step) {  // 0..100 writing, 100..200 verifying
    if (progressBar) SendMessageA(progressBar, PBM_SETPOS, static_cast<WPARAM>(step), 0);
    Pump();
}

std::string PartPath() { return ProgramFolder() + "Flashpart.bin"; }

// The whole image, read once: for reading, with read sharing alone, so no
// one writes it while it is read (the wizard holds it the same way).
bool ReadImage(const std::string& imagePath, std::vector<unsigned char>& image) {
    HANDLE in = CreateFileA(imagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    unsigned char buf[4096];
    DWORD n = 0;
    bool ok = true;
    while ((ok = ReadFile(in, buf, sizeof(buf), &n, nullptr) != FALSE) && n > 0) {
        image.insert(image.end(), buf, buf + n);
        if (image.size() > kPartCapacity) break;
    }
    CloseHandle(in);
    return ok || image.size() > kPartCapacity;
}

// A test can make the flash wait before it writes the part: the file named
// by NORV_ROMWRITE_HOLD, while it exists (at most a minute).
void WaitWhileHeld() {
    char hold[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableA("NORV_ROMWRITE_HOLD", hold, sizeof(hold));
    if (n == 0 || n >= sizeof(hold)) return;
    for (int i = 0; i < 600 && GetFileAttributesA(hold) != INVALID_FILE_ATTRIBUTES; ++i) {
        Pump();
        Sleep(100);
    }
}

DWORD Flash(const std::string& imagePath) {
    std::vector<unsigned char> image;
    if (!ReadImage(imagePath, image)) return 531;
    unsigned char buf[4096];
    size_t n;
    if (image.empty() || image.size() > kPartCapacity) return 532;

    WaitWhileHeld();
    const std::string part = PartPath();
    std::FILE* out = std::fopen(part.c_str(), "wb");
    if (!out) return 533;
    for (size_t off = 0; off < image.size(); off += sizeof(buf)) {
        size_t len = image.size() - off < sizeof(buf) ? image.size() - off : sizeof(buf);
        if (std::fwrite(image.data() + off, 1, len, out) != len) {
            std::fclose(out);
            return 533;
        }
        Progress(static_cast<int>(off * 100 / image.size()));
    }
    if (std::fclose(out) != 0) return 533;

    std::FILE* back = std::fopen(part.c_str(), "rb");
    if (!back) return 534;
    size_t off = 0;
    bool same = true;
    while (same && (n = std::fread(buf, 1, sizeof(buf), back)) > 0) {
        if (off + n > image.size() || std::memcmp(buf, image.data() + off, n) != 0) same = false;
        off += n;
        Progress(100 + static_cast<int>(off * 100 / image.size()));
    }
    std::fclose(back);
    return same && off == image.size() ? 530 : 534;
}
}  // namespace

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int) {
    RestrictLibrarySearch();
    // The command line is the tool's own path and the image path, each quoted
    // when it holds blanks; the runtime splits it by the usual rules.
    DWORD code = 535;
    if (__argc >= 2) {
        OpenProgress(inst, __argv[1]);
        code = Flash(__argv[1]);
        Progress(200);
    }
    ReportErrorCode(code);
    if (progressWindow) DestroyWindow(progressWindow);
    return static_cast<int>(code);
}
