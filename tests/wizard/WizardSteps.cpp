#include "WizardSteps.h"

#include <gtest/gtest.h>

#include <random>

using namespace drv;

namespace e2e {

const char kWorkTitle[] = "Select the Update Method";
const char kServerTitle[] = "Select the NORV Update Server";
const char kVersionTitle[] = "Select the Version ";

std::string State() { return Env("NORV_E2E_STATE"); }
std::string SiteFile(const std::string& rel) { return State() + "\\site\\" + rel; }

namespace {
int CountLines(int mirror, const std::string& what, const std::string& tail) {
    const std::string log = ReadFile(State() + "\\mirror" + std::to_string(mirror) + "\\vsftpd.log");
    int n = 0;
    for (size_t p = 0; (p = log.find(what, p)) != std::string::npos; ++p) {
        const size_t end = log.find('\n', p);
        if (log.substr(p, end == std::string::npos ? std::string::npos : end - p).find(tail) != std::string::npos)
            ++n;
    }
    return n;
}
}  // namespace

int Logins(int mirror) { return CountLines(mirror, "OK LOGIN", ""); }
int Downloads(int mirror, const std::string& name) { return CountLines(mirror, "OK DOWNLOAD", name + "\""); }

std::string RandomImage(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(gen());
    return s;
}

Images::Images() {
    Folder = TempDir() + "my images " + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(Folder.c_str(), nullptr);
}

Images::~Images() { RemoveTree(Folder); }

std::string Images::Add(const std::string& name, const std::string& bytes) {
    WriteFile(Folder + name, bytes);
    return Folder + name;
}

void FlashFromFile(Program& p, HWND page, const std::string& image) {
    HWND list = Child(page, "ComboBox");
    ASSERT_NE(list, nullptr);
    SelectItem(list, 0);
    Click(Child(page, "Button", "&Next"));
    ASSERT_NE(AnswerFileDialog(p.Pid(), image, 10000), "") << "no file dialog came";
}

void ExpectTitleWholeAndClear(HWND page) {
    HWND title = ChildAt(page, "Static", 208, 16);
    HWND desc = ChildAt(page, "RichEdit20A", 216, 48);
    ASSERT_NE(title, nullptr);
    ASSERT_NE(desc, nullptr);
    const std::string text = WindowText(title);
    HFONT font = CreateFontA(-19, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);

    const RECT t = ClientRectInParent(title), d = ClientRectInParent(desc);
    EXPECT_GE(t.right - t.left, size.cx) << "\"" << text << "\" fits on one line";
    EXPECT_GE(t.bottom - t.top, tm.tmHeight) << "\"" << text << "\" is not cut below";
    RECT both;
    EXPECT_FALSE(IntersectRect(&both, &t, &d)) << "\"" << text << "\" overlaps the description";
}

WizardRun::WizardRun(int method, const std::string& romwrite, const std::string& library) : app("sim", romwrite) {
    CopyInto(BinDir() + "sites\\" + library + "\\NorvSite.dll", app.Path);
    SetErrorCode(-1);
    p.reset(new Program(app.Path + "NorvUpdate.exe", app.Path));
    work = WaitForPage(p->Pid(), kWorkTitle, 20000);
    if (!work || method == 0) return;
    SelectItem(Child(work, "ComboBox"), method);
    Click(Child(work, "Button", "&Next"));
    server = WaitForPage(p->Pid(), kServerTitle, 15000);
    if (server) list = Child(server, "ComboBox");
}

void WizardRun::Next(int site) {
    SelectItem(list, site);
    Sleep(100);
    Click(Child(server, "Button", "&Next"));
}

HWND WizardRun::WaitVersionPage(int ms) {
    version = WaitForPage(p->Pid(), kVersionTitle, ms);
    if (version) versions = Child(version, "ComboBox");
    return version;
}

bool WizardRun::ErrorTextVisible() {
    HWND e = ChildAt(server, "RichEdit20A", 216, 144);
    return e && IsWindowVisible(e);
}

}  // namespace e2e
