// The version page: the versions the server offers for the board, and the
// download that saves or flashes the chosen one.
#pragma once
#include <string>

#include "PageFrame.h"

class TSelectVersion : public TWizardPage {
public:
    explicit TSelectVersion(TComponent* owner);

    TComboBox* VersionList;
    std::string DownloadedFile;
    bool Saved = false;

    void BackBtnClick(TObject* Sender);
    void CancelBtnClick(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormShow(TObject* Sender);
};

extern TSelectVersion* SelectVersion;
