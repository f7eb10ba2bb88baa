#include "Selectserver.h"

#include <cstring>

#include "Qvftp.h"
#include "Qvicmp.h"
#include "LibraryLoad.h"
#include "Selectversion.h"
#include "Selectwork.h"

TSelectServer* SelectServer = nullptr;
HMODULE SiteHandle = nullptr;

namespace {
const std::vector<std::string> kDescription = {
    "Be sure that you are connected to the ", "Internet before continuing. You can ",
    "then choose an Internet site or click ", "AutoSelect to choose the best site ",
    "based on your Windows Regional ",       "Settings.",
};

// The data of a resource of the site library, or nullptr.
const char* SiteResource(const char* type, int id, DWORD* size) {
    if (!SiteHandle) return nullptr;
    char name[16];
    wsprintfA(name, "#%d", id);
    HRSRC r = FindResourceA(SiteHandle, name, type);
    if (!r) return nullptr;
    HGLOBAL g = LoadResource(SiteHandle, r);
    if (!g) return nullptr;
    if (size) *size = SizeofResource(SiteHandle, r);
    return static_cast<const char*>(LockResource(g));
}

// A text resource, read up to its zero byte and never past its end.
bool SiteText(const char* type, int id, std::string& out) {
    DWORD size = 0;
    const char* p = SiteResource(type, id, &size);
    if (!p) return false;
    out.assign(p, strnlen(p, size));
    return true;
}
}  // namespace

bool SitePublisherKey(std::vector<unsigned char>& der) {
    DWORD size = 0;
    const char* p = SiteResource("PublicKey", 1, &size);
    if (!p) return false;
    der.assign(p, p + size);
    return true;
}

TSelectServer::TSelectServer(TComponent* owner)
    : TWizardPage(owner, TPageKind::Server, "BGSERVER", "Select the NORV Update Server", kDescription) {
    ServerList = MainList;
    for (const char* placeholder :
         {"Update Bios from local disk", "Update Bios/Driver from internet", "Download Bios/Driver from internet"})
        ServerList->Add(placeholder);
    AutoSelect = new TButton(this, 208, 192, 75, 25, "&AutoSelect");
    TRichEdit::Options opt;
    opt.charset = CHINESEBIG5_CHARSET;
    opt.textColor = RGB(128, 0, 0);
    ErrorText = new TRichEdit(this, 216, 144, 217, 41, opt);
    ErrorText->SetLines({"Can't connect to the srever.", "Select another server and try again."});
    ErrorText->SetVisible(false);

    QVFTP1 = new TQVFTP(this);
    QVFTP1->Port = 21;
    QVFTP1->ReportLevel = 0;
    QVFTP1->UserID = "anonymous";
    QVFTP1->Password = "norv@norv.com";
    QVFTP1->Vendor = 2411;
    QVFTP1->ParseList = false;
    QVFTP1->ProxyPort = 0;
    // A site that never answers must not hold the page: look-up, connect and
    // every reply wait end after this.
    QVFTP1->TimeOut = 20000;
    // Every login starts in passive mode, which gets through NAT routers and
    // firewalls; the version page falls back to active mode for the rest of
    // a login whose server refuses it.
    QVFTP1->OnConnect = [this](TObject*) { QVFTP1->Passive = true; };

    NextBtn->OnClick = [this](TObject* s) { NextBtnClick(s); };
    BackBtn->OnClick = [this](TObject* s) { BackBtnClick(s); };
    CancelBtn->OnClick = [this](TObject* s) { CancelBtnClick(s); };
    AutoSelect->OnClick = [this](TObject* s) { AutoSelectClick(s); };
    ServerList->OnChange = [this](TObject* s) { ServerListChange(s); };
    OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
    OnShow = [this](TObject* s) { FormShow(s); };

    NorvLogo->SetTransparentColor(RGB(255, 255, 255));
    NeedConnect = true;
    AutoSelecting = false;
    SitePath.clear();

    if (!SiteHandle) SiteHandle = LoadCompanionLibrary("NorvSite.dll");
    if (!SiteHandle) {
        MessageBoxA(nullptr, "Can't load NorvSite.dll", "NORV Update", MB_OK);
        PostMessageA(SelectWork->Handle(), WM_CLOSE, 0, 0);
        return;
    }
    DWORD size = 0;
    const char* count = SiteResource("Integer", 1, &size);
    if (!count || size < 4) {
        MessageBoxA(nullptr, "NorvSute.dll is incorrect. Please reinstall program.", "NORV Update", MB_OK);
        PostMessageA(SelectWork->Handle(), WM_CLOSE, 0, 0);
        return;
    }
    int32_t n = 0;
    std::memcpy(&n, count, 4);
    ServerList->Clear();
    for (int32_t k = 1; k <= n; ++k) {
        std::string name;
        // A name missing from the library would be read without a check;
        // list it as an empty entry instead of reading anything at all.
        SiteText("SiteName", static_cast<int>(k), name);
        ServerList->Add(name);
    }
}

TSelectServer::~TSelectServer() {
    if (Pingers)
        for (TQVPing*& p : *Pingers) {
            delete p;
            p = nullptr;
        }
}

bool TSelectServer::LoadSitePath(int id, std::string& path) { return SiteText("SitePath", id, path); }

void TSelectServer::FormShow(TObject*) { MoveToPagePosition(); }

void TSelectServer::ServerListChange(TObject*) {
    NeedConnect = true;
    ErrorText->SetVisible(false);
}

void TSelectServer::AutoSelectClick(TObject*) {
    if (!AutoSelecting) {
        ServerFound = false;
        AutoSelect->SetCaption("Stop");
        AutoSelecting = true;
        StartSweep();
    } else {
        AutoSelect->SetCaption("AutoSelect");
        AutoSelecting = false;
        if (Pingers)
            for (TQVPing* p : *Pingers)
                if (p) p->Abort();
    }
}

void TSelectServer::StartSweep() {
    // Each sweep owns its components; Pingers names the newest sweep's, so a
    // sweep started from inside another never frees what the outer one uses.
    std::vector<TQVPing*> sweep(static_cast<size_t>(ServerList->Count()), nullptr);
    std::vector<TQVPing*>* outer = Pingers;
    Pingers = &sweep;
    for (size_t i = 0; i < sweep.size(); ++i) {
        auto* p = new TQVPing(nullptr);
        p->Host = ServerList->Item(static_cast<int>(i));
        p->OnHostUnreachable = nullptr;
        p->OnInvalidHost = nullptr;
        p->OnTimeOut = nullptr;
        p->OnAbort = nullptr;
        p->OnPing = [this](TObject* s, const std::string& h, int size, int time) { QVPingPing(s, h, size, time); };
        p->Pings = 1;
        p->TimeOut = 2000;
        sweep[i] = p;
    }
    for (size_t i = 0; i < sweep.size() && !AppTerminating(); ++i) {
        try {
            sweep[i]->Ping();
        } catch (const Exception&) {
            delete sweep[i];
            sweep[i] = nullptr;
        }
    }
    for (TQVPing*& p : sweep) {
        delete p;
        p = nullptr;
    }
    Pingers = outer;
}

void TSelectServer::QVPingPing(TObject* Sender, const std::string&, int, int) {
    if (ServerFound || !Pingers) return;
    std::vector<TQVPing*>& sweep = *Pingers;
    int chosen = -1;
    for (size_t i = 0; i < sweep.size(); ++i)
        if (sweep[i] == Sender) chosen = static_cast<int>(i);
    if (chosen < 0) return;
    ServerList->SetItemIndex(chosen);
    ServerFound = true;
    AutoSelect->SetCaption("AutoSelect");
    AutoSelecting = false;
    for (size_t i = 0; i < sweep.size(); ++i) {
        if (static_cast<int>(i) == chosen || !sweep[i]) continue;
        sweep[i]->TimeOut = 1;
        sweep[i]->OnPing = nullptr;
        sweep[i]->OnAbort = nullptr;
        sweep[i]->OnInvalidHost = nullptr;
        sweep[i]->OnHostUnreachable = nullptr;
        sweep[i]->Abort();
    }
}

void TSelectServer::NextBtnClick(TObject*) {
    PageLeft = Left();
    PageTop = Top();
    NextBtn->SetEnabled(false);
    BackBtn->SetEnabled(false);
    const int index = ServerList->ItemIndex();
    QVFTP1->Host = index >= 0 ? ServerList->Item(index) : std::string();
    // Nothing selected, or a site without a directory: nothing to connect to.
    if (index < 0 || !LoadSitePath(index + 1, SitePath)) {
        ErrorText->SetVisible(true);
    } else if (NeedConnect) {
        try {
            if (QVFTP1->Connected) QVFTP1->Disconnect();
            QVFTP1->Connect();
            if (SelectVersion->LoadIndex()) {
                Hide();
                SelectVersion->Show();
                NeedConnect = false;
            }
        } catch (const Exception&) {
            if (!AppTerminating()) ErrorText->SetVisible(true);
        }
    } else {
        Hide();
        SelectVersion->Show();
    }
    NextBtn->SetEnabled(true);
    BackBtn->SetEnabled(true);
}

void TSelectServer::BackBtnClick(TObject*) { HandOver(SelectWork); }

void TSelectServer::CancelBtnClick(TObject*) {
    Hide();
    SelectWork->Close();
}

void TSelectServer::FormClose(TObject*, TCloseAction& Action) {
    Action = TCloseAction::caHide;
    Hide();
    SelectWork->Close();
}
