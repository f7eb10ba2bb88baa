// The version page: the versions the server offers for the board, and the
// download that saves or flashes the chosen one.
#pragma once
#include <memory>
#include <string>

#include "HeldFile.h"
#include <vector>

#include "Dialogs.h"
#include "IndexReader.h"
#include "PageFrame.h"

class TSelectVersion : public TWizardPage, private TIndexMessageSink, private TVersionListSink {
public:
    explicit TSelectVersion(TComponent* owner);
    ~TSelectVersion() override;

    TComboBox* VersionList;
    TRichEdit* VersionDesc;
    TSaveDialog* SaveDialog1;
    HWND DownloadProgress = nullptr;  // thin bar under the list while a download runs

    std::string DownloadedFile;
    bool Saved = false;
    std::unique_ptr<VersionInfo> CurrentEntry;

    // Fetches the site index and the version index of the logged-in site and
    // fills the list; false when the server page should stay (a message has
    // been shown).
    bool LoadIndex();
    void VersionListChange(TObject* Sender);
    void NextBtnClick(TObject* Sender);
    void SaveDialog1CanClose(TObject* Sender, bool& CanClose);
    void SaveDialog1Close(TObject* Sender);
    void BackBtnClick(TObject* Sender);
    void CancelBtnClick(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormShow(TObject* Sender);

    // The entry attached to a list item, or nullptr (placeholder texts).
    VersionInfo* Entry(int index) const;

private:
    void ShowIndexMessage(const std::string& text) override;
    void Clear() override;
    void Add(const std::string& text, std::unique_ptr<VersionInfo> entry) override;
    void FillDescription();
    void ShowProgress(bool on);
    void UpdateProgress();
    void EnableButtons();
    // Hides the page and hands the held image (DownloadedFile, from entry) to
    // the flash; the program ends when it was flashed, else the page comes back.
    void FlashDownloaded(VersionInfo* entry, std::unique_ptr<THeldFile> image);
    // True when the index just downloaded may be read: the site library has no
    // key, or NAME.sig beside it on the server is the publisher's signature.
    bool IndexSigned(const std::string& name, const std::string& local);

    // The entries attached to the list's items, owned by the list.
    std::vector<std::unique_ptr<VersionInfo>> entries_;
    // An image whose flash was refused on battery power, and the entry it
    // came from: Next on that entry flashes it again without a new download.
    // The image stays held meanwhile.
    VersionInfo* keptEntry_ = nullptr;
    std::unique_ptr<THeldFile> keptImage_;
    // A download waiting in the save dialog, held until it is copied.
    std::unique_ptr<THeldFile> savedPackage_;
};

extern TSelectVersion* SelectVersion;

// Server locations: directory part (up to and including the last slash or
// backslash) and file name; the extension is the text after the last ".".
std::string LocationDirectory(const std::string& location);
std::string LocationFileName(const std::string& location);
std::string NameExtension(const std::string& name);
// False for a file name that must never be written into the temporary folder:
// empty, ".", "..", or holding ":" or a control character.
bool SafeLocalName(const std::string& name);
