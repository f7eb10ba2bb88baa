#include "Unpack.h"

#include <cstring>
#include <memory>

#include "Exception.h"
#include "LibraryLoad.h"
#include "MemberChoice.h"

HMODULE UnzipHandle = nullptr;
WindllUnzipFn UnzipEntry = nullptr;
int BestRank = kNoMemberRank;
const char* UnzipLibraryName = "unzip32.dll";
std::function<void(const char*)> UnpackMessage = [](const char* text) {
    MessageBoxA(nullptr, text, "NORV Update", MB_OK);
};

namespace {

const char kFormatError[] = "Compression format error,please try again.";
constexpr size_t kZipNameSize = 256;
constexpr size_t kFolderSize = 260;

// The unpack that the listing call-back reports to, while one runs.
TUnpackContext* Running = nullptr;

int WINAPI IgnoreText(LPSTR, unsigned long) { return 0; }
int WINAPI ReplaceAlways(LPSTR) { return 1; }

void Show(const char* text) {
    if (UnpackMessage) UnpackMessage(text);
}

// The option record and its two text buffers, for the life of one unpack.
struct TUnzipCall {
    DCL Options;
    char ZipName[kZipNameSize];
    char Folder[kFolderSize];
    USERFUNCTIONS Functions;
};

bool IsError(int result) { return result >= 2 && result <= 82; }

// One call of the library. An exception raised inside it is dropped and the
// pass counts as failed: it did not run to its end.
int CallUnzip(TUnzipCall& call) {
    try {
        return UnzipEntry(0, nullptr, 0, nullptr, &call.Options, &call.Functions);
    } catch (const Exception&) {
        return 80;
    }
}

}  // namespace

void WINAPI ChooseMember(unsigned long, unsigned long, unsigned, unsigned, unsigned, unsigned,
                         unsigned, unsigned, unsigned, LPSTR name, LPCSTR, unsigned long, char) {
    if (!Running || !name) return;
    const std::string stored = name;  // before the choice changes it in place
    if (OfferMember(name, BestRank, Running->DownloadedFile, Running->TempPath)) Running->ChosenMember = stored;
}

bool UnpackPackage(TUnpackContext& context) {
    BestRank = kNoMemberRank;
    if (!UnzipHandle) {
        UnzipHandle = LoadCompanionLibrary(UnzipLibraryName);
        if (!UnzipHandle) {
            Show("Can't load unzip32.dll");
            return false;
        }
    }
    if (!UnzipEntry) {
        UnzipEntry = reinterpret_cast<WindllUnzipFn>(reinterpret_cast<void*>(GetProcAddress(UnzipHandle, "windll_unzip")));
        if (!UnzipEntry) {
            Show("Unzip32.dll is incorrect");
            return false;
        }
    }
    // The buffers hold 255 and 259 characters; a longer path is refused, never cut.
    if (context.DownloadedFile.size() >= kZipNameSize || context.TempPath.size() >= kFolderSize) {
        Show("The path of the package is too long to unpack it.");
        return false;
    }

    auto call = std::make_unique<TUnzipCall>();
    std::memset(call.get(), 0, sizeof(TUnzipCall));
    std::memcpy(call->ZipName, context.DownloadedFile.c_str(), context.DownloadedFile.size() + 1);
    std::memcpy(call->Folder, context.TempPath.c_str(), context.TempPath.size() + 1);
    DCL& o = call->Options;
    o.Quiet = 2;
    o.ToStdout = 0;
    o.TestOnly = 0;
    o.ListOnly = 1;
    o.FreshenOnly = 0;
    o.ShowComment = 0;
    o.KeepDirectories = 1;
    o.OverwriteAll = 1;
    o.TranslateEol = 0;
    o.InfoListing = 0;
    o.ZipFileName = call->ZipName;
    o.ExtractDir = call->Folder;
    USERFUNCTIONS& f = call->Functions;
    f.Print = IgnoreText;
    f.Sound = nullptr;
    f.Replace = ReplaceAlways;
    f.Password = nullptr;
    f.SendMember = ChooseMember;

    struct TRunning {
        explicit TRunning(TUnpackContext* c) { Running = c; }
        ~TRunning() { Running = nullptr; }
    } running(&context);

    if (IsError(CallUnzip(*call))) {
        Show(kFormatError);
        return false;
    }
    o.ListOnly = 0;
    if (IsError(CallUnzip(*call))) {
        Show(kFormatError);
        return false;
    }
    return true;
}
