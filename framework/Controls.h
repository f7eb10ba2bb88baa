// Thin classes over the Win32 controls that the pages need.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "Forms.h"

class TControl : public TComponent {
public:
    // Creates the control's window on the form at the given client rectangle.
    TControl(TForm* form, int left, int top, int width, int height, int id = 0);
    ~TControl() override;

    HWND Handle() const { return hwnd_; }
    TForm* Form() const { return form_; }
    int Id() const { return id_; }

    bool Enabled() const;
    void SetEnabled(bool on);
    bool Visible() const;
    void SetVisible(bool on);
    void SetBounds(int left, int top, int width, int height);
    RECT BoundsRect() const;  // in the form's client coordinates
    void SetFocus();
    void SetTabOrder(int order);
    std::string Caption() const;
    void SetCaption(const std::string& text);
    void SetFont(HFONT font);  // not owned

    // Called by the form's window procedure.
    virtual void Command(WORD code) {}
    virtual void DrawItem(const DRAWITEMSTRUCT& dis) {}
    virtual HBRUSH CtlColor(HDC dc) { return nullptr; }

protected:
    void CreateHandle(const char* cls, DWORD style, DWORD exStyle, const char* text);
    TForm* form_;
    HWND hwnd_ = nullptr;
    int id_;
    RECT initial_;
};

class TButton : public TControl {
public:
    TButton(TForm* form, int left, int top, int width, int height, const std::string& caption, int id = 0);
    TNotifyEvent OnClick;
    void Click();  // runs OnClick when the button is enabled
    void Command(WORD code) override;
    void SetDefault(bool on);
};

// Label: text in the form's colour; AutoSize fits the width to the text.
class TLabel : public TControl {
public:
    TLabel(TForm* form, int left, int top, int width, int height, const std::string& caption,
           HFONT font, bool autoSize, bool wordWrap = false);
    HBRUSH CtlColor(HDC dc) override;
};

// Drop-down list without an edit field, owner-drawn with a fixed item height,
// each item optionally carrying an object.
class TComboBox : public TControl {
public:
    TComboBox(TForm* form, int left, int top, int width, int height, int itemHeight = 16, bool ownerDraw = true);
    int Count() const;
    int Add(const std::string& text, TObject* obj = nullptr);
    void Clear();
    std::string Item(int index) const;
    TObject* Object(int index) const;
    int ItemIndex() const;
    void SetItemIndex(int index);

    TNotifyEvent OnChange;
    // Draws one item; the canvas is prepared with the list's font and brush
    // (highlight colours for a selected item); the focus rectangle follows.
    std::function<void(TObject* Sender, int Index, const RECT& Rect, UINT State, TCanvas& Canvas)> OnDrawItem;

    void Command(WORD code) override;
    void DrawItem(const DRAWITEMSTRUCT& dis) override;
    HBRUSH CtlColor(HDC dc) override;
    COLORREF Color;

private:
    std::vector<TObject*> objects_;
};

// Rich text box with a list of lines. Read-only boxes keep the lines in
// Lines and show them joined.
class TRichEdit : public TControl {
public:
    struct Options {
        bool border3d = false;
        bool scrollBars = false;
        bool wordWrap = true;
        bool enabled = false;
        BYTE charset = DEFAULT_CHARSET;
        COLORREF textColor = CLR_DEFAULT;
    };
    TRichEdit(TForm* form, int left, int top, int width, int height, const Options& opt);
    ~TRichEdit() override;

    // Appends text as new last line(s): a text with line feeds adds a line per
    // part, so a text ending in a line feed leaves an empty last line.
    void AddLine(const std::string& text);
    void DeleteLine(int index);
    void ClearLines();
    int LineCount() const { return static_cast<int>(lines_.size()); }
    const std::string& Line(int i) const { return lines_.at(static_cast<size_t>(i)); }
    void SetLines(const std::vector<std::string>& lines);
    std::string Text() const;  // what the window shows
    HBRUSH CtlColor(HDC dc) override;

private:
    void Refresh();
    std::vector<std::string> lines_;
    HFONT font_ = nullptr;
};

// A control that paints itself (pictures, separators).
class TPaintControl : public TControl {
public:
    TPaintControl(TForm* form, int left, int top, int width, int height);
    virtual void Paint(HDC dc) = 0;
};

// Picture: a bitmap drawn at its place, one colour optionally left out.
class TImage : public TPaintControl {
public:
    TImage(TForm* form, int left, int top, int width, int height);
    void LoadResource(const char* name);       // bitmap resource of the program
    void SetBitmap(HBITMAP bmp);               // takes ownership
    void SetTransparentColor(COLORREF c);      // drawn as the form's colour
    HBITMAP Bitmap() const { return bmp_; }
    bool Transparent() const { return transparent_; }
    ~TImage() override;
    void Paint(HDC dc) override;

private:
    HBITMAP bmp_ = nullptr;
    bool transparent_ = false;
    COLORREF key_ = RGB(255, 255, 255);
};

// Etched separator line: shadow row, form-colour row, highlight row.
class TSplitter : public TPaintControl {
public:
    TSplitter(TForm* form, int left, int top, int width, int height);
    void Paint(HDC dc) override;
};

// A list of 16 x 16 images.
class TImageList : public TComponent {
public:
    TImageList(TComponent* owner, int width = 16, int height = 16);
    ~TImageList() override;
    int AddIcon(HICON icon);  // scales to the list's size
    int Count() const;
    // Draws image index on a fresh bitmap filled with the list's background colour.
    void GetBitmap(int index, TBitmap& bmp) const;
    HIMAGELIST Handle() const { return list_; }

private:
    HIMAGELIST list_;
    int w_, h_;
};

// Registers the painting window class that TImage and TSplitter use.
void RegisterPaintClass(HINSTANCE inst);
