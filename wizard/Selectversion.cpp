#include "Selectversion.h"

#include "Selectserver.h"
#include "Selectwork.h"

TSelectVersion* SelectVersion = nullptr;

namespace {
const std::vector<std::string> kDescription = {"Select the version you want for your update.",
                                               "What's new in this version:"};
}  // namespace

TSelectVersion::TSelectVersion(TComponent* owner)
    : TWizardPage(owner, TPageKind::Version, "BGVERSION", "Select the Version ", kDescription) {
    VersionList = MainList;
    VersionList->OnDrawItem = nullptr;  // plain text items
    BgImage->SetTransparentColor(RGB(255, 255, 255));
    NorvLogo->SetTransparentColor(RGB(255, 255, 255));
    for (const char* placeholder :
         {"Update Bios from local disk", "Update Bios/Driver from internet", "Download Bios/Driver from internet"})
        VersionList->Add(placeholder);
    BackBtn->OnClick = [this](TObject* s) { BackBtnClick(s); };
    CancelBtn->OnClick = [this](TObject* s) { CancelBtnClick(s); };
    OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
    OnShow = [this](TObject* s) { FormShow(s); };
}

void TSelectVersion::FormShow(TObject*) { MoveToPagePosition(); }

void TSelectVersion::BackBtnClick(TObject*) { HandOver(SelectServer); }

void TSelectVersion::CancelBtnClick(TObject*) {
    Hide();
    SelectWork->Close();
}

void TSelectVersion::FormClose(TObject*, TCloseAction&) {
    Hide();
    SelectWork->Close();
}
