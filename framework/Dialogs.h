// Modal file-open and file-save dialogs with a can-close hook.
#pragma once
#include <windows.h>
#include <commdlg.h>

#include <functional>
#include <string>

#include "Classes.h"

class TFileDialog : public TComponent {
public:
    explicit TFileDialog(TComponent* owner, bool save) : TComponent(owner), save_(save) {}

    // "Text|pattern|Text|pattern" as the pages give it.
    std::string Filter;
    int FilterIndex = 1;
    std::string InitialDir;
    std::string FileName;  // in: proposed name; out: the confirmed full path
    std::string Title;
    DWORD Options = 0;     // OFN_* flags

    // The user confirmed a file; the dialog is still open. Setting CanClose
    // to false keeps it open.
    std::function<void(TObject* Sender, bool& CanClose)> OnCanClose;
    // The dialog has closed, confirmed or not.
    TNotifyEvent OnClose;

    // Runs the dialog modally; true when a file was confirmed.
    bool Execute();

private:
    static UINT_PTR CALLBACK Hook(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
    bool save_;
};

class TOpenDialog : public TFileDialog {
public:
    explicit TOpenDialog(TComponent* owner) : TFileDialog(owner, false) {}
};

class TSaveDialog : public TFileDialog {
public:
    explicit TSaveDialog(TComponent* owner) : TFileDialog(owner, true) {}
};
