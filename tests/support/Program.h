// Driving the wizard as a user would: a program folder of its own, the
// program started in it, its pages, controls, dialogs and message boxes found,
// read and answered, and the outcome (files, registry, exit code) checked.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "Driver.h"

namespace drv {

// The folder the test programs run from (bin), with a trailing backslash.
std::string BinDir();
// Where the wizard, unzip32.dll and Romwrite.exe are taken from: the folder
// that NORV_PRODUCT_DIR names (an unpacked release), else BinDir().
std::string ProductDir();
std::string TempDir();  // system temporary folder, with a trailing backslash

// A fresh folder (its name holds a blank) with the wizard and its companions.
struct AppFolder {
    // romscope: "sim" (simulated board), "noentry", or "" for none at all;
    // romwrite: "real", "fail", "silent", or "" for none.
    AppFolder(const std::string& romscope = "sim", const std::string& romwrite = "real");
    ~AppFolder();
    void WriteSim(const std::string& text);  // the simulated board's Romscope.sim
    void Put(const std::string& name, const std::string& bytes);
    std::string Path;  // with a trailing backslash
};

bool CopyInto(const std::string& from, const std::string& toFolder, const std::string& name = "");
std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
void RemoveTree(const std::string& path);

// The flashing tool's registry result: -1 when the value is missing. Read and
// written in the registry view of the product's own bitness (a 32-bit
// product on 64-bit Windows keeps HKLM\SOFTWARE under WOW6432Node).
long ReadErrorCode();
void SetErrorCode(long code);  // -1 deletes the value

class Program {
public:
    Program(const std::string& exe, const std::string& folder);
    ~Program();  // ends the process if it still runs
    DWORD Pid() const { return pi_.dwProcessId; }
    // Waits for the end; returns the exit code, or -1 on time-out.
    long Wait(int timeoutMs);
    bool Running() const;

private:
    PROCESS_INFORMATION pi_ = {};
};

// The visible page of the program whose Title reads title; nullptr on time-out.
// A pid of 0 stands for any process (a program started by someone else).
HWND WaitForPage(DWORD pid, const std::string& title, int timeoutMs);
// Any visible page of the program (nullptr when none).
HWND VisiblePage(DWORD pid);
std::string PageTitle(HWND page);

// A child window by class and text (text empty: any), or by class and position.
HWND Child(HWND parent, const std::string& cls, const std::string& text = "");
HWND ChildAt(HWND parent, const std::string& cls, int left, int top);
std::vector<HWND> Children(HWND parent);

// Polls cond every 50 ms; false when it did not hold within ms.
bool WaitFor(int ms, const std::function<bool()>& cond);

// The text of a list item of another process's combo box.
std::string ComboText(HWND combo, int index);

void Click(HWND button);  // posted, so a modal loop it starts does not block us
void SelectItem(HWND combo, int index);  // as a user change: the page is told
void Key(HWND target, UINT vk);

// Message boxes of the given process: waits for the next, reads and answers it.
bool NextMessageBox(DWORD pid, int timeoutMs, MessageBoxInfo* info);

// Answers the program's open or save dialog with a full path (Enter).
// Returns the dialog's title, or "" when none came.
std::string AnswerFileDialog(DWORD pid, const std::string& path, int timeoutMs);
// Reads the file dialog's proposed file name and folder without answering.
HWND WaitForFileDialog(DWORD pid, int timeoutMs);
void CancelFileDialog(HWND dialog);

}  // namespace drv
