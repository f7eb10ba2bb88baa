// The small application framework on Win32: the application object with its
// message loop, forms (the wizard's page windows) and the controls they hold.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Wait.h"

class TForm;
class TControl;

// ---------------------------------------------------------------------------
// Application

class TApplication {
public:
    TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Registers the window classes and loads the common and rich-edit controls.
    void Initialize();

    // Creates a form; the first one created becomes the main window.
    template <class T>
    void CreateForm(T*& ref) {
        ref = new T(nullptr);
        if (!MainForm) MainForm = ref;
    }

    // Shows the main form and dispatches messages until Terminate.
    // Returns at once when Terminate was asked before.
    void Run();
    // Dispatches every pending message, then returns.
    void ProcessMessages();
    // Asks the message loop (and every wait) to end at its next turn.
    void Terminate();
    // The report of an exception that escaped an event handler: a stop-icon
    // message box with the message (a full stop appended) titled with the
    // program file's name.
    void HandleException(const std::exception& e);
    void HandleException(const char* message);

    std::string Title() const;  // program file name without folder and extension
    std::string ExeName() const;

    bool Terminated = false;
    TForm* MainForm = nullptr;
    HINSTANCE Instance = nullptr;
    HICON Icon = nullptr;

private:
    bool HandleMessage(MSG& msg);
    bool initialized_ = false;
};

extern TApplication* Application;

// Runs fn; an exception is reported through Application->HandleException and
// goes no further. Every window procedure routes its handlers through this:
// a C++ exception must never unwind through the system's frames.
template <class F>
inline void Guarded(F&& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        Application->HandleException(e);
    } catch (...) {
        Application->HandleException("Unknown exception");
    }
}

// Message box with no owner window and one OK button.
int ShowMessageBox(const std::string& text, const std::string& title, UINT flags = MB_OK);

// ---------------------------------------------------------------------------
// Drawing surface passed to owner-draw handlers.

struct TCanvasPen {
    COLORREF Color = RGB(0, 0, 0);
};
struct TCanvasBrush {
    COLORREF Color = RGB(255, 255, 255);
};

class TBitmap;

class TCanvas {
public:
    explicit TCanvas(HDC dc) : Handle(dc) {}
    HDC Handle;
    TCanvasPen Pen;
    TCanvasBrush Brush;
    COLORREF FontColor = RGB(0, 0, 0);
    HFONT Font = nullptr;
    void Rectangle(const RECT& r);
    void FillRect(const RECT& r);
    void TextOut(int x, int y, const std::string& text);
    void Draw(int x, int y, const TBitmap& bmp);
};

// A bitmap that can be drawn with one colour (TransparentColor) left out.
class TBitmap {
public:
    TBitmap() = default;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    ~TBitmap();
    void Assign(HBITMAP bmp);  // takes ownership
    HBITMAP Handle() const { return bmp_; }
    int Width() const;
    int Height() const;
    bool Transparent = false;
    COLORREF TransparentColor = RGB(255, 0, 255);

private:
    HBITMAP bmp_ = nullptr;
};

// ---------------------------------------------------------------------------
// Forms

enum class TCloseAction { caNone, caHide, caFree };

class TForm : public TComponent {
public:
    // A page window: fixed dialog frame with caption and close box, the given
    // client size, default font "MS Sans Serif" 11 px.
    TForm(TComponent* owner, int clientWidth, int clientHeight, const std::string& caption);
    ~TForm() override;

    HWND Handle() const { return hwnd_; }
    void Show();
    void Hide();
    void Close();
    bool Visible() const;

    int Left() const;
    int Top() const;
    int Width() const;   // outer size, frame included
    int Height() const;
    void SetPosition(int left, int top);
    int ClientWidth() const;
    int ClientHeight() const;

    COLORREF Color() const { return color_; }
    void SetColor(COLORREF c);
    HBRUSH ColorBrush() const { return brush_; }
    HFONT DefaultFont() const { return font_; }

    // The control that gets the keyboard focus when the form is shown.
    TControl* ActiveControl = nullptr;
    // The buttons that Enter and Esc press.
    TControl* DefaultButton = nullptr;
    TControl* CancelButton = nullptr;

    TNotifyEvent OnShow;
    std::function<void(TObject* Sender, TCloseAction& Action)> OnClose;

    // Used by controls to take part in the form's message dispatch.
    int RegisterControl(TControl* c, int id = 0);
    void UnregisterControl(TControl* c);
    static TForm* FromHandle(HWND hwnd);

protected:
    virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);

private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND hwnd_ = nullptr;
    COLORREF color_;
    HBRUSH brush_ = nullptr;
    HFONT font_ = nullptr;
    std::map<int, TControl*> controls_;
    int nextId_ = 100;
};

// True for messages that a form's dialog navigation (Tab, Enter, Esc) took.
bool FormDialogMessage(MSG& msg);
