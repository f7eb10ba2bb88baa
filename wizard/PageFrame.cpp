#include "PageFrame.h"

int PageLeft = 0;
int PageTop = 0;
bool WinsockFailed = false;

TWizardPage::TWizardPage(TComponent* owner, TPageKind kind, const char* sideBitmap, const std::string& title,
                         const std::vector<std::string>& description)
    : TForm(owner, 480, 344, kCaption) {
    SetColor(kPageColor);
    const bool server = kind == TPageKind::Server;

    BgImage = new TImage(this, 8, 16, 161, 225);
    BgImage->LoadResource(sideBitmap);
    NorvLogo = new TImage(this, 16, 288, 144, 32);
    NorvLogo->LoadResource(kLogoBitmap);
    Splitter1 = new TSplitter(this, 25, 270, 431, 3);

    titleFont_ = CreateFontA(-19, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    // Every title is one line as wide as its text. The version page's title
    // wrapped into 88 x 48 takes two lines of 24 pixels at this size, and
    // the second one reaches y = 64, into the description that starts at 48.
    Title = new TLabel(this, 208, 16, 0, 24, title, titleFont_, true);

    TRichEdit::Options opt;
    opt.charset = CHINESEBIG5_CHARSET;
    const int descHeight = kind == TPageKind::Work ? 169 : server ? 89 : 41;
    Description = new TRichEdit(this, 216, 48, server ? 225 : 241, descHeight, opt);
    Description->SetLines(description);

    // Created in tab order: the list first, then Next, Cancel and Back.
    MainList = new TComboBox(this, 208, 232, server ? 225 : 249, 22);
    NextBtn = new TButton(this, 296, 296, 75, 25, "&Next");
    NextBtn->SetDefault(true);
    CancelBtn = new TButton(this, 376, 296, 75, 25, "&Cancel");
    CancelButton = CancelBtn;
    if (kind != TPageKind::Work) BackBtn = new TButton(this, 221, 296, 75, 25, "&Back");
    ActiveControl = kind == TPageKind::Version ? static_cast<TControl*>(NextBtn) : MainList;
}

TWizardPage::~TWizardPage() {
    DestroyComponents();
    if (titleFont_) DeleteObject(titleFont_);
}

void TWizardPage::HandOver(TForm* target) {
    PageLeft = Left();
    PageTop = Top();
    Hide();
    target->Show();
}
