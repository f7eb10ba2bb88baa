// The server page: the update servers of the site library, the choice of one
// (by hand or by echo probing), and the FTP login.
#pragma once
#include <string>
#include <vector>

#include "PageFrame.h"

class TQVFTP;
class TQVPing;

class TSelectServer : public TWizardPage {
public:
    explicit TSelectServer(TComponent* owner);
    ~TSelectServer() override;

    TComboBox* ServerList;
    TButton* AutoSelect;
    TRichEdit* ErrorText;
    TQVFTP* QVFTP1;
    std::string SitePath;

    bool ServerFound = false;
    bool AutoSelecting = false;
    bool NeedConnect = true;
    // The echo components of the newest sweep, in list order; an entry is
    // null once its component was destroyed.
    std::vector<TQVPing*>* Pingers = nullptr;

    void NextBtnClick(TObject* Sender);
    void BackBtnClick(TObject* Sender);
    void CancelBtnClick(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormShow(TObject* Sender);
    void ServerListChange(TObject* Sender);
    void AutoSelectClick(TObject* Sender);
    void QVPingPing(TObject* Sender, const std::string& Host, int Size, int Time);

private:
    void StartSweep();
    // The text of "SitePath" #id; false when the library has none.
    bool LoadSitePath(int id, std::string& path);
};

extern TSelectServer* SelectServer;
// The publisher's public key that the site library carries ("PublicKey" #1,
// DER SubjectPublicKeyInfo); false when it carries none. With a key, the
// wizard takes only index files signed by it and packages that match their
// checksum.
bool SitePublisherKey(std::vector<unsigned char>& der);
// The site library, loaded once and kept.
extern HMODULE SiteHandle;
