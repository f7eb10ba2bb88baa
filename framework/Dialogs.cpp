#include "Dialogs.h"

#include <commdlg.h>

#include <vector>

#include "Forms.h"

namespace {
struct HookState {
    TFileDialog* dialog;
    OPENFILENAMEA* ofn;
};
}  // namespace

UINT_PTR CALLBACK TFileDialog::Hook(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* ofn = reinterpret_cast<OPENFILENAMEA*>(lp);
        SetWindowLongPtrA(dlg, GWLP_USERDATA, static_cast<LONG_PTR>(ofn->lCustData));
        return 0;
    }
    if (msg != WM_NOTIFY) return 0;
    auto* hdr = reinterpret_cast<OFNOTIFYA*>(lp);
    if (hdr->hdr.code != CDN_FILEOK) return 0;
    auto* state = reinterpret_cast<HookState*>(GetWindowLongPtrA(dlg, GWLP_USERDATA));
    if (!state) return 0;
    bool canClose = true;
    Guarded([&] {
        state->dialog->FileName = state->ofn->lpstrFile;
        Fire(state->dialog->OnCanClose, state->dialog, canClose);
    });
    if (!canClose) {
        SetWindowLongPtrA(dlg, DWLP_MSGRESULT, 1);
        return 1;
    }
    return 0;
}

bool TFileDialog::Execute() {
    std::string filter = Filter;
    for (char& c : filter)
        if (c == '|') c = '\0';
    filter.push_back('\0');
    filter.push_back('\0');

    std::vector<char> file(MAX_PATH * 4, '\0');
    FileName.copy(file.data(), file.size() - 1);

    OPENFILENAMEA ofn = {};
    HookState state = {this, &ofn};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = nullptr;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = static_cast<DWORD>(FilterIndex);
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    ofn.Flags = Options | OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
    ofn.lpfnHook = &TFileDialog::Hook;
    ofn.lCustData = reinterpret_cast<LPARAM>(&state);

    BOOL ok = save_ ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (ok) FileName = file.data();
    Fire(OnClose, this);
    return ok != FALSE;
}
