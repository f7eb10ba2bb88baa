#include "Selectversion.h"

#include <commctrl.h>

#include "Digest.h"
#include "Qvftp.h"
#include "Selectserver.h"
#include "Selectwork.h"
#include "Unpack.h"
#include "Updatebios.h"
#include "WorkFolder.h"

TSelectVersion* SelectVersion = nullptr;

namespace {
const std::vector<std::string> kDescription = {"Select the version you want for your update.",
                                               "What's new in this version:"};
const char kDownloadFailed[] = "Can't download driver/bios,please choose another site.";
const char kNotSigned[] = "The update information on the server is not signed correctly.";
const char kNoChecksum[] = "The update information on the server has no valid checksum for this version.";
const char kDamagedFlash[] = "The downloaded file is damaged. Nothing was flashed.";
const char kDamagedSave[] = "The downloaded file is damaged. Nothing was saved.";

// Downloads remote into local: passive first, as the login starts; when the
// server refuses passive mode or its passive port cannot be reached, active
// mode for this and the rest of the login's downloads.
void Fetch(TQVFTP* ftp, const std::string& remote, const std::string& local) {
    // Without a work folder of its own the run downloads nothing.
    if (SelectWork->TempPath.empty()) throw Exception("No work folder");
    try {
        ftp->Download(remote, local);
    } catch (const EPassiveError&) {
        if (AppTerminating() || !ftp->Connected) throw;
        ftp->Passive = false;
        ftp->Download(remote, local);
    }
}

void Message(const char* text) { MessageBoxA(nullptr, text, "NORV Update", MB_OK); }

bool SameText(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

bool HeldMatchesSha256(const THeldFile& file, const std::string& hexText) {
    TSha256Digest want, got;
    return Sha256FromHex(hexText, want) && file.Sha256(got) && got == want;
}

// The unpacked image, held, when it is exactly the member as the checked
// package (held since its checksum) stores it: nothing changed it between
// the unzip library writing it and this open.
std::unique_ptr<THeldFile> HoldUnpackedImage(const THeldFile& package, const std::string& member,
                                             const std::string& path) {
    auto image = std::make_unique<THeldFile>();
    TSha256Digest unpacked, stored;
    if (!image->Open(path) || !image->Sha256(unpacked) || !ZipMemberSha256(package, member, stored) ||
        unpacked != stored)
        return nullptr;
    return image;
}
}  // namespace

std::string LocationDirectory(const std::string& location) {
    size_t p = location.find_last_of("/\\");
    return p == std::string::npos ? std::string() : location.substr(0, p + 1);
}

std::string LocationFileName(const std::string& location) {
    size_t p = location.find_last_of("/\\");
    return p == std::string::npos ? location : location.substr(p + 1);
}

std::string NameExtension(const std::string& name) {
    size_t p = name.rfind('.');
    return p == std::string::npos ? name : name.substr(p + 1);
}

bool SafeLocalName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f || c == ':') return false;
    return true;
}

TSelectVersion::TSelectVersion(TComponent* owner)
    : TWizardPage(owner, TPageKind::Version, "BGVERSION", "Select the Version ", kDescription) {
    VersionList = MainList;
    for (const char* placeholder :
         {"Update Bios from local disk", "Update Bios/Driver from internet", "Download Bios/Driver from internet"})
        VersionList->Add(placeholder);
    TRichEdit::Options opt;
    opt.border3d = true;
    opt.scrollBars = true;
    opt.wordWrap = false;
    opt.enabled = true;
    opt.charset = CHINESEBIG5_CHARSET;
    VersionDesc = new TRichEdit(this, 208, 104, 249, 121, opt);
    SaveDialog1 = new TSaveDialog(this);
    SaveDialog1->Filter = "All Files (*.*)|*.*";
    SaveDialog1->Options = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    DownloadProgress = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 208, 258, 249, 8, Handle(), nullptr,
                                       Application->Instance, nullptr);

    BgImage->SetTransparentColor(RGB(255, 255, 255));
    NorvLogo->SetTransparentColor(RGB(255, 255, 255));
    NextBtn->OnClick = [this](TObject* s) { NextBtnClick(s); };
    BackBtn->OnClick = [this](TObject* s) { BackBtnClick(s); };
    CancelBtn->OnClick = [this](TObject* s) { CancelBtnClick(s); };
    VersionList->OnChange = [this](TObject* s) { VersionListChange(s); };
    SaveDialog1->OnCanClose = [this](TObject* s, bool& c) { SaveDialog1CanClose(s, c); };
    SaveDialog1->OnClose = [this](TObject* s) { SaveDialog1Close(s); };
    OnClose = [this](TObject* s, TCloseAction& a) { FormClose(s, a); };
    OnShow = [this](TObject* s) { FormShow(s); };
}

TSelectVersion::~TSelectVersion() { DestroyComponents(); }

VersionInfo* TSelectVersion::Entry(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return nullptr;
    return entries_[static_cast<size_t>(index)].get();
}

void TSelectVersion::ShowIndexMessage(const std::string& text) { Message(text.c_str()); }

void TSelectVersion::Clear() {
    VersionList->Clear();
    entries_.clear();
    keptEntry_ = nullptr;
    keptImage_.reset();
}

void TSelectVersion::Add(const std::string& text, std::unique_ptr<VersionInfo> entry) {
    // Items before the first entry (the placeholders) carry none.
    entries_.resize(static_cast<size_t>(VersionList->Count()));
    VersionList->Add(text, entry.get());
    entries_.push_back(std::move(entry));
}

void TSelectVersion::FormShow(TObject*) { MoveToPagePosition(); }

void TSelectVersion::FillDescription() {
    VersionDesc->ClearLines();
    VersionInfo* e = Entry(VersionList->ItemIndex());
    if (!e || !e->DescLines) return;
    for (int i = 0; i < e->DescLines->Count(); ++i) {
        // A stored line keeps its line feed: appending it leaves an empty
        // last line, which goes again, so each line shows once.
        VersionDesc->AddLine((*e->DescLines)[i]);
        VersionDesc->DeleteLine(VersionDesc->LineCount() - 1);
    }
}

void TSelectVersion::VersionListChange(TObject*) { FillDescription(); }

bool TSelectVersion::LoadIndex() {
    TQVFTP* ftp = SelectServer->QVFTP1;
    const std::string& temp = SelectWork->TempPath;
    const std::string siteIndex = temp + "Path.idx";
    if (!ftp->Connected) {
        try {
            ftp->Connect();
        } catch (const Exception&) {
            // The transfer below fails and says so.
        }
    }
    try {
        ftp->ChangeDir(SelectServer->SitePath);
        Fetch(ftp, "Path.idx", siteIndex);
    } catch (const Exception&) {
        if (AppTerminating()) return false;
        Message(kDownloadFailed);
        return false;
    }
    if (!IndexSigned("Path.idx", siteIndex)) {
        DeleteFileA(siteIndex.c_str());
        if (!AppTerminating()) Message(kNotSigned);
        return false;
    }
    TIndexContext ctx{UpdateBios->ModelName, CurrentEntry, *this, *this};
    if (!FindIndexPath(ctx, siteIndex, "Motherboard") && !FindIndexPath(ctx, siteIndex, "Default")) {
        Message("Can't find update infomation on this server.");
        DeleteFileA(siteIndex.c_str());
        return false;
    }
    DeleteFileA(siteIndex.c_str());
    const std::string location = CurrentEntry ? CurrentEntry->FilePath : std::string();
    if (location.empty()) return true;

    const std::string dir = LocationDirectory(location), name = LocationFileName(location);
    const std::string versionIndex = temp + name;
    try {
        if (!SafeLocalName(name)) throw Exception("Unsafe file name in the index");
        ftp->ChangeDir(dir);
        Fetch(ftp, name, versionIndex);
    } catch (const Exception&) {
        if (AppTerminating()) return false;
        Message(kDownloadFailed);
        return false;
    }
    if (!IndexSigned(name, versionIndex)) {
        DeleteFileA(versionIndex.c_str());
        if (!AppTerminating()) Message(kNotSigned);
        return false;
    }
    CurrentEntry.reset();
    if (ParseVersionIndex(ctx, versionIndex)) {
        VersionList->SetItemIndex(VersionList->Count() - 1);
        FillDescription();
        return true;
    }
    Message("Can't find update infomation on the server.");
    Application->Terminate();
    return true;
}

bool TSelectVersion::IndexSigned(const std::string& name, const std::string& local) {
    TBytes key, signature;
    if (!SitePublisherKey(key)) return true;
    // The FTP connection is still in the index's directory.
    const std::string sigFile = local + ".sig";
    bool valid = false;
    try {
        Fetch(SelectServer->QVFTP1, name + ".sig", sigFile);
        valid = ReadSmallFile(sigFile, signature) && VerifyFileSignature(local, signature, key) == TSignatureCheck::Valid;
    } catch (const Exception&) {
        // No signature on the server: not signed.
    }
    DeleteFileA(sigFile.c_str());
    return valid;
}

void TSelectVersion::ShowProgress(bool on) {
    if (on) {
        LONG style = GetWindowLongA(DownloadProgress, GWL_STYLE) & ~PBS_MARQUEE;
        SetWindowLongA(DownloadProgress, GWL_STYLE, style);
        SendMessageA(DownloadProgress, PBM_SETRANGE32, 0, 1000);
        SendMessageA(DownloadProgress, PBM_SETPOS, 0, 0);
    }
    ShowWindow(DownloadProgress, on ? SW_SHOWNA : SW_HIDE);
}

void TSelectVersion::UpdateProgress() {
    TQVFTP* ftp = SelectServer->QVFTP1;
    const long total = ftp->BytesTotal;
    const long got = ftp->GetBytesRcvd();
    LONG style = GetWindowLongA(DownloadProgress, GWL_STYLE);
    if (total <= 0) {
        // No size announced: a moving bar says that bytes arrive.
        if (!(style & PBS_MARQUEE)) {
            SetWindowLongA(DownloadProgress, GWL_STYLE, style | PBS_MARQUEE);
            SendMessageA(DownloadProgress, PBM_SETMARQUEE, TRUE, 30);
        }
        return;
    }
    long pos = got >= total ? 1000 : static_cast<long>(static_cast<long long>(got) * 1000 / total);
    SendMessageA(DownloadProgress, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void TSelectVersion::EnableButtons() {
    NextBtn->SetEnabled(true);
    BackBtn->SetEnabled(true);
}

void TSelectVersion::NextBtnClick(TObject*) {
    VersionInfo* entry = Entry(VersionList->ItemIndex());
    if (!entry) return;  // a placeholder or nothing selected
    // With the publisher's key every version needs a checksum; without one, a
    // checksum that is given must still be one.
    TBytes key;
    const std::string sha256 = entry->Sha256;
    if ((SitePublisherKey(key) || !sha256.empty()) && !IsSha256Text(sha256)) {
        Message(kNoChecksum);
        return;
    }
    NextBtn->SetEnabled(false);
    BackBtn->SetEnabled(false);
    if (SelectWork->UpdateMethod != 2 && entry == keptEntry_ && keptImage_) {
        DownloadedFile = keptImage_->Path();
        keptEntry_ = nullptr;
        FlashDownloaded(entry, std::move(keptImage_));
        EnableButtons();
        return;
    }
    savedPackage_.reset();
    TQVFTP* ftp = SelectServer->QVFTP1;
    const std::string dir = LocationDirectory(entry->FilePath), name = LocationFileName(entry->FilePath);
    const std::string package = SelectWork->TempPath + name;
    try {
        if (!SafeLocalName(name)) throw Exception("Unsafe file name in the index");
        if (!ftp->Connected) ftp->Connect();
        ShowProgress(true);
        ftp->OnPacketRecvd = [this](TObject*) { UpdateProgress(); };
        ftp->ChangeDir(dir);
        Fetch(ftp, name, package);
        ftp->OnPacketRecvd = nullptr;
        ShowProgress(false);
    } catch (const Exception&) {
        ftp->OnPacketRecvd = nullptr;
        if (AppTerminating()) return;
        ShowProgress(false);
        Message(kDownloadFailed);
        EnableButtons();
        return;
    }
    // Held from its checksum on: what was checked is what is saved, unpacked
    // or flashed.
    auto held = std::make_unique<THeldFile>();
    if (!held->Open(package) || (!sha256.empty() && !HeldMatchesSha256(*held, sha256))) {
        held.reset();
        DeleteFileA(package.c_str());
        Message(SelectWork->UpdateMethod == 2 ? kDamagedSave : kDamagedFlash);
        EnableButtons();
        return;
    }
    DownloadedFile = package;

    if (SelectWork->UpdateMethod == 2) {
        savedPackage_ = std::move(held);
        SaveDialog1->InitialDir = SelectWork->AppPath;
        SaveDialog1->FileName = LocationFileName(DownloadedFile);
        Hide();
        SaveDialog1->Execute();
        EnableButtons();
        return;
    }
    if (SameText(NameExtension(name), "zip")) {
        TUnpackContext unpack{DownloadedFile, SelectWork->TempPath};
        // A failure is told once what it wrote is gone (a full disk: the
        // package and partial members would fill it while the message shows).
        std::string failure;
        const auto show = UnpackMessage;
        UnpackMessage = [&failure](const char* text) { failure = text; };
        const bool ok = UnpackPackage(unpack);
        UnpackMessage = show;
        std::unique_ptr<THeldFile> image;
        const bool isImage = ok && SameText(NameExtension(DownloadedFile), "awd");
        if (isImage) image = HoldUnpackedImage(*held, unpack.ChosenMember, DownloadedFile);
        held.reset();
        DeleteFileA(package.c_str());
        if (!ok) {
            // What a failed unpack wrote (a full disk: partial members) goes now.
            if (RunWorkFolder) RunWorkFolder->Empty();
            if (!failure.empty()) Message(failure.c_str());
            EnableButtons();
            return;
        }
        if (isImage && !image) {
            Message(kDamagedFlash);
        } else if (image) {
            FlashDownloaded(entry, std::move(image));
        }
    } else if (SameText(NameExtension(DownloadedFile), "awd")) {
        FlashDownloaded(entry, std::move(held));
    }
    EnableButtons();
}

void TSelectVersion::FlashDownloaded(VersionInfo* entry, std::unique_ptr<THeldFile> image) {
    Hide();
    UpdateBios->ImagePath = image->Path();
    const TFlashResult result = UpdateBios->Flash(image.get());
    if (result == TFlashResult::Flashed) {
        Application->Terminate();
        return;
    }
    // Only a refusal keeps the image for the next try: after a failed flash
    // the next try fetches the package again, in case the copy was bad.
    keptEntry_ = result == TFlashResult::OnBattery ? entry : nullptr;
    keptImage_ = keptEntry_ ? std::move(image) : nullptr;
    Show();
}

void TSelectVersion::SaveDialog1CanClose(TObject*, bool&) {
    if (!CopyFileA(DownloadedFile.c_str(), SaveDialog1->FileName.c_str(), FALSE)) {
        // The download is the user's only copy: keep it, and say why.
        Message("Can't save the file. Choose another folder.");
        return;
    }
    savedPackage_.reset();
    DeleteFileA(DownloadedFile.c_str());
    Saved = true;
    Close();
}

void TSelectVersion::SaveDialog1Close(TObject*) {
    if (Saved)
        Close();
    else
        Show();
}

void TSelectVersion::BackBtnClick(TObject*) { HandOver(SelectServer); }

void TSelectVersion::CancelBtnClick(TObject*) {
    Hide();
    SelectWork->Close();
}

void TSelectVersion::FormClose(TObject*, TCloseAction& Action) {
    Action = TCloseAction::caHide;
    Hide();
    SelectWork->Close();
}
