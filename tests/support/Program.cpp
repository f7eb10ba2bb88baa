#include "Program.h"

#include <direct.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace drv {

std::string BinDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string p = path;
    return p.substr(0, p.rfind('\\') + 1);
}

std::string ProductDir() {
    std::string dir = Env("NORV_PRODUCT_DIR");
    if (dir.empty()) return BinDir();
    if (dir.back() != '\\') dir += '\\';
    return dir;
}

namespace {

// The registry view that the product's programs use: the 32-bit one when the
// wizard is a 32-bit program, whatever this driver is.
REGSAM ProductView() {
    static REGSAM view = [] {
        std::string exe = ReadFile(ProductDir() + "NorvUpdate.exe");
        if (exe.size() < 0x40) return REGSAM(0);
        uint32_t pe = 0;
        memcpy(&pe, exe.data() + 0x3c, sizeof(pe));
        if (pe > exe.size() - 6) return REGSAM(0);
        uint16_t machine = 0;
        memcpy(&machine, exe.data() + pe + 4, sizeof(machine));
        return REGSAM(machine == IMAGE_FILE_MACHINE_I386 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
    }();
    return view;
}

}  // namespace

std::string TempDir() {
    char t[MAX_PATH] = {};
    GetTempPathA(sizeof(t), t);
    return t;
}

std::string ReadFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::string();
    std::string s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool CopyInto(const std::string& from, const std::string& toFolder, const std::string& name) {
    std::string base = name.empty() ? from.substr(from.find_last_of("\\/") + 1) : name;
    return CopyFileA(from.c_str(), (toFolder + base).c_str(), FALSE) != FALSE;
}

void RemoveTree(const std::string& path) {
    std::string dir = path;
    if (!dir.empty() && dir.back() == '\\') dir.pop_back();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string n = fd.cFileName;
            if (n == "." || n == "..") continue;
            std::string p = dir + "\\" + n;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(p);
            else
                DeleteFileA(p.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

AppFolder::AppFolder(const std::string& romscope, const std::string& romwrite) {
    static int counter = 0;
    Path = TempDir() + "norv app " + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) + "\\";
    RemoveTree(Path);
    CreateDirectoryA(Path.c_str(), nullptr);
    const std::string bin = BinDir();
    const std::string product = ProductDir();
    CopyInto(product + "NorvUpdate.exe", Path);
    CopyInto(product + "unzip32.dll", Path);
    if (FileExists(bin + "NorvSite.dll")) CopyInto(bin + "NorvSite.dll", Path);
    if (romscope == "sim") CopyInto(bin + "sim\\Romscope.dll", Path);
    if (romscope == "noentry") CopyInto(bin + "doubles\\noentry\\Romscope.dll", Path);
    if (romwrite == "real") CopyInto(product + "Romwrite.exe", Path);
    if (romwrite == "fail" || romwrite == "silent")
        CopyInto(bin + "doubles\\romwrite_" + romwrite + "\\Romwrite.exe", Path);
}

AppFolder::~AppFolder() { RemoveTree(Path); }

void AppFolder::WriteSim(const std::string& text) { WriteFile(Path + "Romscope.sim", text); }

void AppFolder::Put(const std::string& name, const std::string& bytes) { WriteFile(Path + name, bytes); }

long ReadErrorCode() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NORV\\NORVUpdate", 0, KEY_READ | ProductView(), &key) != ERROR_SUCCESS) return -1;
    DWORD v = 0, size = sizeof(v);
    LONG r = RegQueryValueExA(key, "Error Code", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? static_cast<long>(v) : -1;
}

void SetErrorCode(long code) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\NORV\\NORVUpdate", 0, nullptr, 0, KEY_ALL_ACCESS | ProductView(),
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    if (code < 0) {
        RegDeleteValueA(key, "Error Code");
    } else {
        DWORD v = static_cast<DWORD>(code);
        RegSetValueExA(key, "Error Code", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof(v));
    }
    RegCloseKey(key);
}

Program::Program(const std::string& exe, const std::string& folder) {
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    std::string cmd = "\"" + exe + "\"";
    CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi_);
}

Program::~Program() {
    if (pi_.hProcess) {
        if (Running()) {
            TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 5000);
        }
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
    }
}

long Program::Wait(int timeoutMs) {
    if (!pi_.hProcess) return -1;
    if (WaitForSingleObject(pi_.hProcess, static_cast<DWORD>(Patience(timeoutMs))) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
}

bool Program::Running() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
    return out;
}

HWND Child(HWND parent, const std::string& cls, const std::string& text) {
    for (HWND c : Children(parent))
        if (ClassName(c) == cls && (text.empty() || WindowText(c) == text)) return c;
    return nullptr;
}

HWND ChildAt(HWND parent, const std::string& cls, int left, int top) {
    for (HWND c : Children(parent)) {
        RECT r = ClientRectInParent(c);
        if (ClassName(c) == cls && r.left == left && r.top == top) return c;
    }
    return nullptr;
}

std::string PageTitle(HWND page) {
    // The title is the page's only label at (208, 16).
    HWND t = ChildAt(page, "Static", 208, 16);
    return t ? WindowText(t) : std::string();
}

namespace {
struct PageSearch {
    DWORD pid;
    std::vector<HWND> pages;
};
BOOL CALLBACK CollectPages(HWND w, LPARAM lp) {
    auto* s = reinterpret_cast<PageSearch*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if ((s->pid == 0 || pid == s->pid) && IsWindowVisible(w) && ClassName(w) == "TNorvForm") s->pages.push_back(w);
    return TRUE;
}
}  // namespace

HWND VisiblePage(DWORD pid) {
    PageSearch s = {pid, {}};
    EnumWindows(CollectPages, reinterpret_cast<LPARAM>(&s));
    return s.pages.empty() ? nullptr : s.pages.front();
}

HWND WaitForPage(DWORD pid, const std::string& title, int timeoutMs) {
    DWORD start = GetTickCount();
    do {
        PageSearch s = {pid, {}};
        EnumWindows(CollectPages, reinterpret_cast<LPARAM>(&s));
        for (HWND p : s.pages)
            if (PageTitle(p) == title) return p;
        Sleep(30);
    } while (static_cast<int>(GetTickCount() - start) < Patience(timeoutMs));
    return nullptr;
}

bool WaitFor(int ms, const std::function<bool()>& cond) {
    DWORD start = GetTickCount();
    while (!cond()) {
        if (static_cast<int>(GetTickCount() - start) > Patience(ms)) return false;
        Sleep(50);
    }
    return true;
}

std::string ComboText(HWND combo, int index) {
    // Across processes Wine hands the item text over as wide characters.
    LRESULT n = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n == CB_ERR || n < 0) return std::string();
    std::wstring w(static_cast<size_t>(n) + 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&w[0]));
    w.resize(wcslen(w.c_str()));
    std::string s(w.size() * 2 + 1, '\0');
    int len = WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), &s[0],
                                  static_cast<int>(s.size()), nullptr, nullptr);
    s.resize(static_cast<size_t>(len > 0 ? len : 0));
    return s;
}

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void SelectItem(HWND combo, int index) {
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

void Key(HWND target, UINT vk) {
    PostMessageA(target, WM_KEYDOWN, vk, 1);
    PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
}

namespace {
struct DialogSearch {
    DWORD pid;
    bool fileDialog;
    HWND found;
};
BOOL CALLBACK FindDialog(HWND w, LPARAM lp) {
    auto* s = reinterpret_cast<DialogSearch*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if ((s->pid != 0 && pid != s->pid) || !IsWindowVisible(w) || ClassName(w) != "#32770") return TRUE;
    bool onlyStaticAndButtons = true;
    for (HWND c : Children(w)) {
        std::string cls = ClassName(c);
        if (cls != "Static" && cls != "Button") onlyStaticAndButtons = false;
    }
    if (onlyStaticAndButtons != s->fileDialog) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}
HWND FindDialogOf(DWORD pid, bool fileDialog, int timeoutMs) {
    DWORD start = GetTickCount();
    do {
        DialogSearch s = {pid, fileDialog, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        Sleep(30);
    } while (static_cast<int>(GetTickCount() - start) < Patience(timeoutMs));
    return nullptr;
}
}  // namespace

bool NextMessageBox(DWORD pid, int timeoutMs, MessageBoxInfo* info) {
    HWND box = FindDialogOf(pid, false, timeoutMs);
    if (!box) return false;
    Sleep(50);
    MessageBoxInfo i = ReadAndDismiss(box);
    // Wait until that box has gone, so the next call finds the next one.
    for (int n = 0; n < 200 && IsWindow(box) && IsWindowVisible(box); ++n) Sleep(20);
    if (info) *info = i;
    return true;
}

HWND WaitForFileDialog(DWORD pid, int timeoutMs) { return FindDialogOf(pid, true, timeoutMs); }

std::string AnswerFileDialog(DWORD pid, const std::string& path, int timeoutMs) {
    HWND dlg = WaitForFileDialog(pid, timeoutMs);
    if (!dlg) return std::string();
    Sleep(200);
    std::string title = WindowText(dlg);
    // The file name field: edt1 (0x480) or the combo box cmb13 (0x47c).
    HWND name = GetDlgItem(dlg, 0x480);
    if (!name) name = GetDlgItem(dlg, 0x47c);
    if (!name) return std::string();
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
    return title.empty() ? std::string("(untitled)") : title;
}

void CancelFileDialog(HWND dialog) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

}  // namespace drv
