#include "Controls.h"

#include <richedit.h>

namespace {
const char kPaintClass[] = "TNorvPaint";

LRESULT CALLBACK PaintWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        auto* c = reinterpret_cast<TPaintControl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (c) Guarded([&] { c->Paint(dc); });
        EndPaint(hwnd, &ps);
        return 0;
    }
    if (msg == WM_ERASEBKGND) return 1;
    if (msg == WM_NCHITTEST) return HTTRANSPARENT;
    return DefWindowProcA(hwnd, msg, wp, lp);
}
}  // namespace

void RegisterPaintClass(HINSTANCE inst) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PaintWndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kPaintClass;
    RegisterClassExA(&wc);
}

// ---------------------------------------------------------------------------

TControl::TControl(TForm* form, int left, int top, int width, int height, int id)
    : TComponent(form), form_(form), initial_{left, top, left + width, top + height} {
    id_ = form->RegisterControl(this, id);
}

TControl::~TControl() {
    form_->UnregisterControl(this);
    if (hwnd_) DestroyWindow(hwnd_);
}

void TControl::CreateHandle(const char* cls, DWORD style, DWORD exStyle, const char* text) {
    hwnd_ = CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, initial_.left, initial_.top,
                            initial_.right - initial_.left, initial_.bottom - initial_.top, form_->Handle(),
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)), Application->Instance, nullptr);
    if (!hwnd_) throw Exception(std::string("Error creating control ") + cls);
    SetFont(form_->DefaultFont());
}

bool TControl::Enabled() const { return IsWindowEnabled(hwnd_) != FALSE; }
void TControl::SetEnabled(bool on) { EnableWindow(hwnd_, on ? TRUE : FALSE); }
bool TControl::Visible() const { return (GetWindowLongA(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0; }
void TControl::SetVisible(bool on) { ShowWindow(hwnd_, on ? SW_SHOWNA : SW_HIDE); }

void TControl::SetBounds(int left, int top, int width, int height) {
    MoveWindow(hwnd_, left, top, width, height, TRUE);
}

RECT TControl::BoundsRect() const {
    RECT r;
    GetWindowRect(hwnd_, &r);
    MapWindowPoints(nullptr, form_->Handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void TControl::SetFocus() { ::SetFocus(hwnd_); }

void TControl::SetTabOrder(int order) {
    // Windows orders tab stops by z-order: place this control after the
    // control that currently holds position order - 1.
    HWND after = HWND_TOP;
    if (order > 0) {
        HWND w = GetWindow(form_->Handle(), GW_CHILD);
        for (int i = 0; w && i < order - 1; ++i) w = GetWindow(w, GW_HWNDNEXT);
        if (w && w != hwnd_) after = w;
    }
    SetWindowPos(hwnd_, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

std::string TControl::Caption() const {
    int n = GetWindowTextLengthA(hwnd_);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    GetWindowTextA(hwnd_, &s[0], n + 1);
    s.resize(static_cast<size_t>(n));
    return s;
}

void TControl::SetCaption(const std::string& text) { SetWindowTextA(hwnd_, text.c_str()); }

void TControl::SetFont(HFONT font) { SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE); }

// ---------------------------------------------------------------------------

TButton::TButton(TForm* form, int left, int top, int width, int height, const std::string& caption, int id)
    : TControl(form, left, top, width, height, id) {
    CreateHandle("BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, caption.c_str());
}

void TButton::Click() {
    if (Enabled()) Fire(OnClick, this);
}

void TButton::Command(WORD code) {
    if (code == BN_CLICKED) Click();
}

void TButton::SetDefault(bool on) {
    SendMessageA(hwnd_, BM_SETSTYLE, on ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    if (on) form_->DefaultButton = this;
}

// ---------------------------------------------------------------------------

TLabel::TLabel(TForm* form, int left, int top, int width, int height, const std::string& caption, HFONT font,
               bool autoSize, bool wordWrap)
    : TControl(form, left, top, width, height) {
    CreateHandle("STATIC", wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP, 0, caption.c_str());
    if (font) SetFont(font);
    if (autoSize) {
        HDC dc = GetDC(hwnd_);
        HGDIOBJ old = SelectObject(dc, font ? font : form->DefaultFont());
        SIZE sz = {};
        GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &sz);
        SelectObject(dc, old);
        ReleaseDC(hwnd_, dc);
        SetBounds(left, top, sz.cx, height);
    }
}

HBRUSH TLabel::CtlColor(HDC dc) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    return form_->ColorBrush();
}

// ---------------------------------------------------------------------------

TComboBox::TComboBox(TForm* form, int left, int top, int width, int height, int itemHeight, bool ownerDraw)
    : TControl(form, left, top, width, height + 8 * itemHeight), Color(form->Color()) {
    DWORD style = CBS_DROPDOWNLIST | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP;
    if (ownerDraw) style |= CBS_OWNERDRAWFIXED;
    CreateHandle("COMBOBOX", style, 0, "");
    // The closed box is its selection field plus a 3-pixel edge above and below.
    SendMessageA(hwnd_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height - 6);
    SendMessageA(hwnd_, CB_SETITEMHEIGHT, 0, itemHeight);
}

int TComboBox::Count() const { return static_cast<int>(SendMessageA(hwnd_, CB_GETCOUNT, 0, 0)); }

int TComboBox::Add(const std::string& text, TObject* obj) {
    int i = static_cast<int>(SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    if (i >= 0) {
        if (static_cast<size_t>(i) >= objects_.size()) objects_.resize(static_cast<size_t>(i) + 1, nullptr);
        objects_[static_cast<size_t>(i)] = obj;
    }
    return i;
}

void TComboBox::Clear() {
    SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
    objects_.clear();
}

std::string TComboBox::Item(int index) const {
    LRESULT n = SendMessageA(hwnd_, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n == CB_ERR) return std::string();
    std::string s(static_cast<size_t>(n) + 1, '\0');
    SendMessageA(hwnd_, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&s[0]));
    s.resize(static_cast<size_t>(n));
    return s;
}

TObject* TComboBox::Object(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= objects_.size()) return nullptr;
    return objects_[static_cast<size_t>(index)];
}

int TComboBox::ItemIndex() const { return static_cast<int>(SendMessageA(hwnd_, CB_GETCURSEL, 0, 0)); }

void TComboBox::SetItemIndex(int index) { SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }

void TComboBox::Command(WORD code) {
    if (code == CBN_SELCHANGE) Fire(OnChange, this);
}

HBRUSH TComboBox::CtlColor(HDC dc) {
    SetBkColor(dc, Color);
    return form_->ColorBrush();
}

void TComboBox::DrawItem(const DRAWITEMSTRUCT& dis) {
    TCanvas canvas(dis.hDC);
    canvas.Font = reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
    canvas.Brush.Color = Color;
    canvas.FontColor = GetSysColor(COLOR_WINDOWTEXT);
    const int index = static_cast<int>(dis.itemID);
    if (index >= 0 && (dis.itemState & ODS_SELECTED)) {
        canvas.Brush.Color = GetSysColor(COLOR_HIGHLIGHT);
        canvas.FontColor = GetSysColor(COLOR_HIGHLIGHTTEXT);
    }
    if (index >= 0) {
        if (OnDrawItem) {
            OnDrawItem(this, index, dis.rcItem, dis.itemState, canvas);
        } else {
            canvas.FillRect(dis.rcItem);
            canvas.TextOut(dis.rcItem.left + 2, dis.rcItem.top, Item(index));
        }
    } else {
        canvas.FillRect(dis.rcItem);
    }
    if (dis.itemState & ODS_FOCUS) DrawFocusRect(dis.hDC, &dis.rcItem);
}

// ---------------------------------------------------------------------------

TRichEdit::TRichEdit(TForm* form, int left, int top, int width, int height, const Options& opt)
    : TControl(form, left, top, width, height) {
    DWORD style = ES_MULTILINE | ES_READONLY;
    if (opt.scrollBars) style |= WS_VSCROLL | WS_HSCROLL | ES_AUTOVSCROLL | ES_AUTOHSCROLL;
    if (!opt.wordWrap) style |= ES_AUTOHSCROLL;
    CreateHandle(RICHEDIT_CLASSA, style, opt.border3d ? WS_EX_CLIENTEDGE : 0, "");
    font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, opt.charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    SetFont(font_);
    SendMessageA(hwnd_, EM_SETBKGNDCOLOR, 0, form->Color());
    SendMessageA(hwnd_, EM_SETTARGETDEVICE, 0, opt.wordWrap ? 0 : 1);
    if (opt.textColor != CLR_DEFAULT) {
        CHARFORMAT2A cf = {};
        cf.cbSize = sizeof(cf);
        cf.dwMask = CFM_COLOR;
        cf.crTextColor = opt.textColor;
        SendMessageA(hwnd_, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
        SendMessageA(hwnd_, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
    }
    if (!opt.enabled) SetEnabled(false);
}

TRichEdit::~TRichEdit() {
    if (hwnd_) {
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
    if (font_) DeleteObject(font_);
}

void TRichEdit::AddLine(const std::string& text) {
    size_t start = 0;
    for (;;) {
        size_t lf = text.find('\n', start);
        std::string part = text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        if (!part.empty() && part.back() == '\r') part.pop_back();
        lines_.push_back(part);
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    Refresh();
}

void TRichEdit::DeleteLine(int index) {
    if (index < 0 || index >= LineCount()) return;
    lines_.erase(lines_.begin() + index);
    Refresh();
}

void TRichEdit::ClearLines() {
    lines_.clear();
    Refresh();
}

void TRichEdit::SetLines(const std::vector<std::string>& lines) {
    lines_ = lines;
    Refresh();
}

std::string TRichEdit::Text() const { return Caption(); }

void TRichEdit::Refresh() {
    std::string all;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i) all += "\r\n";
        all += lines_[i];
    }
    SetWindowTextA(hwnd_, all.c_str());
}

HBRUSH TRichEdit::CtlColor(HDC dc) { return form_->ColorBrush(); }

// ---------------------------------------------------------------------------

TPaintControl::TPaintControl(TForm* form, int left, int top, int width, int height)
    : TControl(form, left, top, width, height) {
    CreateHandle(kPaintClass, 0, 0, "");
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TImage::TImage(TForm* form, int left, int top, int width, int height)
    : TPaintControl(form, left, top, width, height) {}

TImage::~TImage() {
    if (bmp_) DeleteObject(bmp_);
}

void TImage::LoadResource(const char* name) {
    SetBitmap(static_cast<HBITMAP>(LoadImageA(Application->Instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

void TImage::SetBitmap(HBITMAP bmp) {
    if (bmp_) DeleteObject(bmp_);
    bmp_ = bmp;
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void TImage::SetTransparentColor(COLORREF c) {
    transparent_ = true;
    key_ = c;
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void TImage::Paint(HDC dc) {
    RECT r;
    GetClientRect(hwnd_, &r);
    ::FillRect(dc, &r, form_->ColorBrush());
    if (!bmp_) return;
    BITMAP b = {};
    GetObjectA(bmp_, sizeof(b), &b);
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, bmp_);
    if (transparent_)
        TransparentBlt(dc, 0, 0, b.bmWidth, b.bmHeight, mem, 0, 0, b.bmWidth, b.bmHeight, key_);
    else
        BitBlt(dc, 0, 0, b.bmWidth, b.bmHeight, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
}

TSplitter::TSplitter(TForm* form, int left, int top, int width, int height)
    : TPaintControl(form, left, top, width, height) {}

void TSplitter::Paint(HDC dc) {
    RECT r;
    GetClientRect(hwnd_, &r);
    const COLORREF rows[3] = {GetSysColor(COLOR_BTNSHADOW), form_->Color(), GetSysColor(COLOR_BTNHIGHLIGHT)};
    for (int y = 0; y < r.bottom && y < 3; ++y) {
        HBRUSH b = CreateSolidBrush(rows[y]);
        RECT row = {0, y, r.right, y + 1};
        ::FillRect(dc, &row, b);
        DeleteObject(b);
    }
}

// ---------------------------------------------------------------------------

TImageList::TImageList(TComponent* owner, int width, int height) : TComponent(owner), w_(width), h_(height) {
    list_ = ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 4, 4);
}

TImageList::~TImageList() {
    if (list_) ImageList_Destroy(list_);
}

int TImageList::AddIcon(HICON icon) { return ImageList_AddIcon(list_, icon); }

int TImageList::Count() const { return ImageList_GetImageCount(list_); }

void TImageList::GetBitmap(int index, TBitmap& bmp) const {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP b = CreateCompatibleBitmap(screen, w_, h_);
    HGDIOBJ old = SelectObject(mem, b);
    RECT r = {0, 0, w_, h_};
    HBRUSH fill = CreateSolidBrush(bmp.TransparentColor);
    ::FillRect(mem, &r, fill);
    DeleteObject(fill);
    ImageList_Draw(list_, index, mem, 0, 0, ILD_TRANSPARENT);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    bmp.Assign(b);
}
