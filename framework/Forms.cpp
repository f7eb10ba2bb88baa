#include "Forms.h"

#include <commctrl.h>

#include "Controls.h"
#include "LibraryLoad.h"

namespace {
const char kFormClass[] = "TNorvForm";
TApplication theApplication;
}  // namespace

TApplication* Application = &theApplication;

TApplication::TApplication() { Instance = GetModuleHandleA(nullptr); }

void TApplication::Initialize() {
    if (initialized_) return;
    initialized_ = true;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    LoadSystemLibrary("riched20.dll");
    Icon = static_cast<HICON>(LoadImageA(Instance, "MAINICON", IMAGE_ICON, 16, 16, 0));

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcA;  // replaced per window in TForm
    wc.hInstance = Instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = Icon;
    wc.hIconSm = Icon;
    wc.lpszClassName = kFormClass;
    RegisterClassExA(&wc);
    RegisterPaintClass(Instance);
}

std::string TApplication::ExeName() const {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    return path;
}

std::string TApplication::Title() const {
    std::string name = ExeName();
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) name = name.substr(0, dot);
    return name;
}

bool FormDialogMessage(MSG& msg) {
    if (!msg.hwnd) return false;
    HWND root = GetAncestor(msg.hwnd, GA_ROOT);
    if (!root || !TForm::FromHandle(root)) return false;
    return IsDialogMessageA(root, &msg) != FALSE;
}

bool TApplication::HandleMessage(MSG& msg) {
    if (msg.message == WM_QUIT) {
        Terminated = true;
        return false;
    }
    if (!FormDialogMessage(msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (!Terminated && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) HandleMessage(msg);
}

void TApplication::Run() {
    Initialize();
    if (Terminated || !MainForm) return;
    MainForm->Show();
    MSG msg;
    while (!Terminated) {
        BOOL r = GetMessageA(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) {
            Terminated = true;
            break;
        }
        HandleMessage(msg);
    }
}

void TApplication::Terminate() {
    Terminated = true;
    // Wakes a message loop that is blocked in GetMessage.
    PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
}

void TApplication::HandleException(const char* message) {
    std::string text = message ? message : "";
    if (text.empty() || text.back() != '.') text += '.';
    MessageBoxA(nullptr, text.c_str(), Title().c_str(), MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException(const std::exception& e) { HandleException(e.what()); }

int ShowMessageBox(const std::string& text, const std::string& title, UINT flags) {
    return MessageBoxA(nullptr, text.c_str(), title.c_str(), flags);
}

// ---------------------------------------------------------------------------

void TCanvas::Rectangle(const RECT& r) {
    HPEN pen = CreatePen(PS_SOLID, 1, Pen.Color);
    HBRUSH brush = CreateSolidBrush(Brush.Color);
    HGDIOBJ oldPen = SelectObject(Handle, pen);
    HGDIOBJ oldBrush = SelectObject(Handle, brush);
    ::Rectangle(Handle, r.left, r.top, r.right, r.bottom);
    SelectObject(Handle, oldPen);
    SelectObject(Handle, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

void TCanvas::FillRect(const RECT& r) {
    HBRUSH brush = CreateSolidBrush(Brush.Color);
    ::FillRect(Handle, &r, brush);
    DeleteObject(brush);
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
    HGDIOBJ oldFont = Font ? SelectObject(Handle, Font) : nullptr;
    SetBkMode(Handle, OPAQUE);
    SetBkColor(Handle, Brush.Color);
    SetTextColor(Handle, FontColor);
    ::TextOutA(Handle, x, y, text.c_str(), static_cast<int>(text.size()));
    if (oldFont) SelectObject(Handle, oldFont);
}

void TCanvas::Draw(int x, int y, const TBitmap& bmp) {
    if (!bmp.Handle()) return;
    HDC mem = CreateCompatibleDC(Handle);
    HGDIOBJ old = SelectObject(mem, bmp.Handle());
    if (bmp.Transparent)
        TransparentBlt(Handle, x, y, bmp.Width(), bmp.Height(), mem, 0, 0, bmp.Width(), bmp.Height(),
                       bmp.TransparentColor);
    else
        BitBlt(Handle, x, y, bmp.Width(), bmp.Height(), mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
}

TBitmap::~TBitmap() {
    if (bmp_) DeleteObject(bmp_);
}

void TBitmap::Assign(HBITMAP bmp) {
    if (bmp_) DeleteObject(bmp_);
    bmp_ = bmp;
}

int TBitmap::Width() const {
    BITMAP b = {};
    if (bmp_) GetObjectA(bmp_, sizeof(b), &b);
    return b.bmWidth;
}

int TBitmap::Height() const {
    BITMAP b = {};
    if (bmp_) GetObjectA(bmp_, sizeof(b), &b);
    return b.bmHeight;
}

// ---------------------------------------------------------------------------

TForm::TForm(TComponent* owner, int clientWidth, int clientHeight, const std::string& caption)
    : TComponent(owner), color_(GetSysColor(COLOR_BTNFACE)) {
    Application->Initialize();
    brush_ = CreateSolidBrush(color_);
    font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT r = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    hwnd_ = CreateWindowExA(exStyle, kFormClass, caption.c_str(), style, 0, 0, r.right - r.left, r.bottom - r.top,
                            nullptr, nullptr, Application->Instance, nullptr);
    if (!hwnd_) throw Exception("Error creating window");
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TForm::StaticWndProc));
    // Some systems round the frame differently: make the client area exact.
    RECT cr;
    GetClientRect(hwnd_, &cr);
    if (cr.right != clientWidth || cr.bottom != clientHeight) {
        RECT wr;
        GetWindowRect(hwnd_, &wr);
        SetWindowPos(hwnd_, nullptr, 0, 0, (wr.right - wr.left) + clientWidth - cr.right,
                     (wr.bottom - wr.top) + clientHeight - cr.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (Application->Icon) {
        SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Application->Icon));
        SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Application->Icon));
    }
}

TForm::~TForm() {
    ComponentState |= csDestroying;
    DestroyComponents();
    if (hwnd_) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    if (brush_) DeleteObject(brush_);
    if (font_) DeleteObject(font_);
    if (Application->MainForm == this) Application->MainForm = nullptr;
}

TForm* TForm::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof(cls));
    if (lstrcmpA(cls, kFormClass) != 0) return nullptr;
    return reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void TForm::Show() {
    if (Visible()) {
        SetForegroundWindow(hwnd_);
        return;
    }
    Fire(OnShow, this);
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    if (ActiveControl && ActiveControl->Enabled()) ActiveControl->SetFocus();
    UpdateWindow(hwnd_);
}

void TForm::Hide() { ShowWindow(hwnd_, SW_HIDE); }

void TForm::Close() {
    TCloseAction action = Application->MainForm == this ? TCloseAction::caFree : TCloseAction::caHide;
    Fire(OnClose, this, action);
    if (action == TCloseAction::caHide) {
        Hide();
    } else if (action == TCloseAction::caFree) {
        Hide();
        if (Application->MainForm == this) Application->Terminate();
    }
}

bool TForm::Visible() const { return IsWindowVisible(hwnd_) != FALSE; }

int TForm::Left() const {
    RECT r;
    GetWindowRect(hwnd_, &r);
    return r.left;
}
int TForm::Top() const {
    RECT r;
    GetWindowRect(hwnd_, &r);
    return r.top;
}
int TForm::Width() const {
    RECT r;
    GetWindowRect(hwnd_, &r);
    return r.right - r.left;
}
int TForm::Height() const {
    RECT r;
    GetWindowRect(hwnd_, &r);
    return r.bottom - r.top;
}
int TForm::ClientWidth() const {
    RECT r;
    GetClientRect(hwnd_, &r);
    return r.right;
}
int TForm::ClientHeight() const {
    RECT r;
    GetClientRect(hwnd_, &r);
    return r.bottom;
}

void TForm::SetPosition(int left, int top) {
    SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::SetColor(COLORREF c) {
    color_ = c;
    if (brush_) DeleteObject(brush_);
    brush_ = CreateSolidBrush(c);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

int TForm::RegisterControl(TControl* c, int id) {
    if (id == 0) id = nextId_++;
    controls_[id] = c;
    return id;
}

void TForm::UnregisterControl(TControl* c) {
    for (auto it = controls_.begin(); it != controls_.end(); ++it)
        if (it->second == c) {
            controls_.erase(it);
            return;
        }
}

LRESULT CALLBACK TForm::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcA(hwnd, msg, wp, lp);
    LRESULT result = 0;
    bool handled = false;
    Guarded([&] {
        result = form->WndProc(msg, wp, lp);
        handled = true;
    });
    return handled ? result : 0;
}

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CLOSE:
            Close();
            return 0;
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(hwnd_, &r);
            ::FillRect(reinterpret_cast<HDC>(wp), &r, brush_);
            return 1;
        }
        case DM_GETDEFID:
            if (DefaultButton) return MAKELRESULT(DefaultButton->Id(), DC_HASDEFID);
            return 0;
        case WM_COMMAND: {
            int id = LOWORD(wp);
            auto it = controls_.find(id);
            if (it != controls_.end()) {
                it->second->Command(HIWORD(wp));
                return 0;
            }
            if (id == IDCANCEL && CancelButton) {
                CancelButton->Command(BN_CLICKED);
                return 0;
            }
            if (id == IDOK && DefaultButton) {
                DefaultButton->Command(BN_CLICKED);
                return 0;
            }
            break;
        }
        case WM_MEASUREITEM: {
            auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
            mis->itemHeight = 16;
            return TRUE;
        }
        case WM_DRAWITEM: {
            auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
            auto it = controls_.find(static_cast<int>(dis->CtlID));
            if (it != controls_.end()) it->second->DrawItem(*dis);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN: {
            HWND child = reinterpret_cast<HWND>(lp);
            for (auto& kv : controls_)
                if (kv.second->Handle() == child) {
                    if (HBRUSH b = kv.second->CtlColor(reinterpret_cast<HDC>(wp))) return reinterpret_cast<LRESULT>(b);
                    break;
                }
            if (msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN) {
                SetBkColor(reinterpret_cast<HDC>(wp), color_);
                return reinterpret_cast<LRESULT>(brush_);
            }
            break;
        }
        default:
            break;
    }
    return DefWindowProcA(hwnd_, msg, wp, lp);
}
