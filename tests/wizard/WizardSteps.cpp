#include "WizardSteps.h"

#include <gtest/gtest.h>

#include <random>

#include "ZipReader.h"

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

std::string ZipMember(const std::string& zip, const std::string& name) {
    const std::string bytes = ReadFile(zip);
    zipr::MemorySource source(bytes.data(), bytes.size());
    zipr::ZipReader reader(source);
    if (reader.Open() != zipr::kOk) return std::string();
    for (const zipr::Member& m : reader.Members()) {
        if (m.Name != name) continue;
        std::string data;
        reader.Read(m, [&](const uint8_t* d, size_t n) {
            data.append(reinterpret_cast<const char*>(d), n);
            return true;
        });
        return data;
    }
    return std::string();
}

std::set<std::string> FolderNames(const std::string& folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string n = data.cFileName;
        if (n != "." && n != "..") names.insert(n);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

std::string NewestImage() { return ZipMember(SiteFile("pub\\norv\\bios\\a1\\a1v1003.zip"), "BIOS/A1V1003.AWD"); }

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

WizardRun::WizardRun(int method, const std::string& romwrite, const std::string& library, const std::string& cwd)
    : app("sim", romwrite) {
    CopyInto(BinDir() + "sites\\" + library + "\\NorvSite.dll", app.Path);
    SetErrorCode(-1);
    const std::string own = Env("NORV_WIZARD_TEMP");
    temp = own.empty() ? TempDir() : own;
    tempBefore = FolderNames(temp);
    const std::string tmp = Env("TMP"), tempVar = Env("TEMP");
    if (!own.empty()) {
        SetEnvironmentVariableA("TMP", own.c_str());
        SetEnvironmentVariableA("TEMP", own.c_str());
    }
    p.reset(new Program(app.Path + "NorvUpdate.exe", cwd.empty() ? app.Path : cwd));
    if (!own.empty()) {
        SetEnvironmentVariableA("TMP", tmp.empty() ? nullptr : tmp.c_str());
        SetEnvironmentVariableA("TEMP", tempVar.empty() ? nullptr : tempVar.c_str());
    }
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

std::string WizardRun::WorkFolder(int ms) {
    std::string found;
    WaitFor(ms, [&] {
        for (const std::string& n : NewInTemp())
            if (n.compare(0, 11, "NorvUpdate-") == 0) found = temp + n + "\\";
        return !found.empty();
    });
    return found;
}

std::set<std::string> WizardRun::NewInTemp() const {
    std::set<std::string> now = FolderNames(temp), added;
    for (const std::string& n : now)
        if (!tempBefore.count(n)) added.insert(n);
    return added;
}

bool WizardRun::ErrorTextVisible() {
    HWND e = ChildAt(server, "RichEdit20A", 216, 144);
    return e && IsWindowVisible(e);
}

}  // namespace e2e
