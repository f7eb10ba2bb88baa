#include "Selectwork.h"

#include "LibraryLoad.h"
#include "Selectserver.h"
#include "Selectversion.h"
#include "Updatebios.h"
#include "WorkFolder.h"

TSelectWork* SelectWork = nullptr;

const char* const kUpdateMethods[3] = {"Update BIOS from a file", "Update BIOS from the Internet",
                                       "Download BIOS from the Internet"};

namespace {
const std::vector<std::string> kDescription = {
    "1. Update BIOS from a file - ",
    "    NORV Update will let you select a ",
    "    BIOS image and update the BIOS ",
    "    for you.",
    "2. Update BIOS from the Internet - ",
    "    NORV Update will download a BIOS ",
    "    image from the Internet and update ",
    "    the BIOS for you.",
    "3. Download BIOS from the Internet -",
    "    NORV Update will download a BIOS",
    "    from the internet to a destination of ",
    "    your choice for later use.",
};
}  // namespace

TSelectWork::TSelectWork(TComponent* owner)
    : TWizardPage(owner, TPageKind::Work, "BGWORK", "Select the Update Method", kDescription) {
    SelectAction = MainList;
    for (const char* m : kUpdateMethods) SelectAction->Add(m);
    IconList = new TImageList(this, 16, 16);
    OpenBios = new TOpenDialog(this);
    OpenBios->Filter = "BIOS Images (*.awd;*.bin)|*.awd;*.bin|All Files (*.*)|*.*";
    OpenBios->FilterIndex = 1;
    OpenBios->Options = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;

    NextBtn->OnClick = [this](TObject* s) { NextBtnClick(s); };
    CancelBtn->OnClick = [this](TObject* s) { CancelBtnClick(s); };
    SelectAction->OnDrawItem = [this](TObject* s, int i, const RECT& r, UINT st, TCanvas& c) {
        SelectActionDrawItem(s, i, r, st, c);
    };
    OpenBios->OnCanClose = [this](TObject* s, bool& can) { OpenBiosCanClose(s, can); };
    OpenBios->OnClose = [this](TObject* s) { OpenBiosClose(s); };
    OnShow = [this](TObject* s) { FormShow(s); };

    // Centred on the primary display, by the outer size of the page.
    PageLeft = (GetSystemMetrics(SM_CXSCREEN) - Width()) / 2;
    PageTop = (GetSystemMetrics(SM_CYSCREEN) - Height()) / 2;
    SetColor(kPageColor);

    AppPath = ProgramFolder();
    // Not the shared temporary folder itself: the run's private folder in it.
    // Without one the Internet methods fail at their first download.
    if (RunWorkFolder) TempPath = RunWorkFolder->Path();

    // One icon per method, at the system icon size, scaled into the list.
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    HICON icon = nullptr;
    for (int id = 1; id <= 3; ++id) {
        icon = static_cast<HICON>(LoadImageA(Application->Instance, MAKEINTRESOURCEA(id), IMAGE_ICON, cx, cy, 0));
        if (icon) {
            IconList->AddIcon(icon);
            DestroyIcon(icon);
        }
    }

    UpdateMethod = 1;
    SelectAction->SetItemIndex(1);
    NorvLogo->SetTransparentColor(RGB(255, 255, 255));

    if (!UpdateBios->BoardFound()) {
        MessageBoxA(nullptr, "Can not find NORV's MotherBoard", "NORV Update", MB_OK);
        Application->Terminate();
    }
}

void TSelectWork::FormShow(TObject*) {
    MoveToPagePosition();
    if (WinsockFailed) {
        UpdateMethod = 0;
        SelectAction->SetItemIndex(0);
        SelectAction->SetEnabled(false);
    }
}

void TSelectWork::SelectActionDrawItem(TObject*, int Index, const RECT& Rect, UINT State, TCanvas& Canvas) {
    TBitmap bitmap;
    IconList->GetBitmap(Index, bitmap);
    bitmap.Transparent = true;
    const COLORREF pen = Canvas.Pen.Color, brush = Canvas.Brush.Color;
    if (State & (ODS_SELECTED | ODS_FOCUS)) {
        Canvas.Pen.Color = Color();
    } else {
        Canvas.Pen.Color = brush;
        Canvas.Brush.Color = brush;
    }
    Canvas.Rectangle(Rect);
    Canvas.Pen.Color = pen;
    Canvas.Brush.Color = brush;
    Canvas.Draw(Rect.left + 4, Rect.top, bitmap);
    Canvas.TextOut(Rect.left + 26, Rect.top, SelectAction->Item(Index));
}

void TSelectWork::NextBtnClick(TObject*) {
    PageLeft = Left();
    PageTop = Top();
    NextBtn->SetEnabled(false);
    UpdateMethod = SelectAction->ItemIndex();
    if (UpdateMethod == 0) {
        Hide();
        OpenBios->Execute();
    } else {
        SelectVersion->NextBtn->SetCaption(UpdateMethod == 2 ? "&Save" : "&Next");
        Hide();
        if (SelectServer->ServerList->ItemIndex() < 0) SelectServer->ServerList->SetItemIndex(0);
        SelectServer->Show();
    }
    NextBtn->SetEnabled(true);
}

void TSelectWork::OpenBiosCanClose(TObject*, bool&) {
    Hide();
    UpdateBios->ImagePath = OpenBios->FileName;
    if (UpdateBios->FlashImage()) {
        Application->Terminate();
    } else {
        UpdateBios->ImagePath.clear();
        Show();
    }
}

void TSelectWork::OpenBiosClose(TObject*) {
    // After a successful flash the program is ending: nothing to show.
    if (!Application->Terminated) Show();
}

void TSelectWork::CancelBtnClick(TObject*) { Close(); }
