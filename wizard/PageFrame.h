// The frame that the three wizard pages share: process-wide placement, the
// start-up fallback flag, and the common elements with their layout.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "Controls.h"
#include "Forms.h"

// Screen position (outer top-left corner) at which every page is shown.
extern int PageLeft;
extern int PageTop;
// Set once by the start-up fallback when the socket layer could not start.
extern bool WinsockFailed;

const COLORREF kPageColor = RGB(193, 193, 193);
const char kCaption[] = "NORV Update";

// Resource names of the artwork.
const char kLogoBitmap[] = "NORVLOGO";

enum class TPageKind { Work, Server, Version };

// A wizard page: the fixed frame of 480 x 344 with the shared elements.
class TWizardPage : public TForm {
public:
    TWizardPage(TComponent* owner, TPageKind kind, const char* sideBitmap, const std::string& title,
                const std::vector<std::string>& description);
    ~TWizardPage() override;

    TImage* BgImage;
    TImage* NorvLogo;
    TSplitter* Splitter1;
    TLabel* Title;
    TRichEdit* Description;
    TButton* BackBtn = nullptr;  // server and version pages only
    TButton* NextBtn;
    TButton* CancelBtn;
    // SelectAction / ServerList / VersionList
    TComboBox* MainList;

    // Hand-over: store this page's position, hide it, show the target.
    void HandOver(TForm* target);
    // The first step of every page's show handler.
    void MoveToPagePosition() { SetPosition(PageLeft, PageTop); }

private:
    HFONT titleFont_;
};
