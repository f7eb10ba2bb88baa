#include "Selectserver.h"

#include "Selectwork.h"

TSelectServer* SelectServer = nullptr;

namespace {
const std::vector<std::string> kDescription = {
    "Be sure that you are connected to the ", "Internet before continuing. You can ",
    "then choose an Internet site or click ", "AutoSelect to choose the best site ",
    "based on your Windows Regional ",       "Settings.",
};
}  // namespace

TSelectServer::TSelectServer(TComponent* owner)
    : TWizardPage(owner, TPageKind::Server, "BGSERVER", "Select the NORV Update Server", kDescription) {
    ServerList = MainList;
    NorvLogo->SetTransparentColor(RGB(255, 255, 255));
    NextBtn->OnClick = [this](TObject* s) { NextBtnClick(s); };
    BackBtn->OnClick = [this](TObject* s) { BackBtnClick(s); };
    CancelBtn->OnClick = [this](TObject* s) { CancelBtnClick(s); };
    OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
    OnShow = [this](TObject* s) { FormShow(s); };
}

void TSelectServer::FormShow(TObject*) { MoveToPagePosition(); }

void TSelectServer::NextBtnClick(TObject*) {}

void TSelectServer::BackBtnClick(TObject*) { HandOver(SelectWork); }

void TSelectServer::CancelBtnClick(TObject*) {
    Hide();
    SelectWork->Close();
}

void TSelectServer::FormClose(TObject*, TCloseAction&) {
    Hide();
    SelectWork->Close();
}
