// The server page: the update servers of the site library, the choice of one
// (by hand or by echo probing), and the FTP login.
#pragma once
#include <string>

#include "PageFrame.h"

class TSelectServer : public TWizardPage {
public:
    explicit TSelectServer(TComponent* owner);

    TComboBox* ServerList;
    std::string SitePath;

    void NextBtnClick(TObject* Sender);
    void BackBtnClick(TObject* Sender);
    void CancelBtnClick(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormShow(TObject* Sender);
};

extern TSelectServer* SelectServer;
