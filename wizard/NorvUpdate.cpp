// Program entry: the BIOS service object first, then the three pages, then
// the message loop; the file-only fallback when the socket layer cannot start.
#include "Psock.h"  // first: Winsock before windows.h

#include "Forms.h"
#include "LibraryLoad.h"
#include "PageFrame.h"
#include "Selectserver.h"
#include "Selectversion.h"
#include "Selectwork.h"
#include "Updatebios.h"
#include "WorkFolder.h"

namespace {
// "Windows Sockets could not be started": the component's own start-up
// failure, or Winsock's "not started" error (10093) from a socket operation.
bool IsSocketStartFailure(const Exception& e) {
    auto* sock = dynamic_cast<const ESockError*>(&e);
    if (!sock) return false;
    return sock->Kind == TSockErrorKind::StartupFailed ||
           (sock->Kind == TSockErrorKind::Winsock && sock->Code == WSANOTINITIALISED);
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything loads a library: no library from the current folder,
    // none of the system's from anywhere but the system folder.
    RestrictLibrarySearch();
    // The run's own folder for everything it downloads or unpacks, removed
    // when WinMain returns, whatever the run's outcome; what killed runs left
    // goes first.
    const std::string temp = SystemTempFolder();
    RemoveAbandonedWorkFolders(temp);
    TWorkFolder work;
    work.Create(temp);
    RunWorkFolder = &work;
    struct TForget {
        ~TForget() { RunWorkFolder = nullptr; }
    } forget;

    UpdateBios = new TUpdateBios();
    if (!UpdateBios->Loaded()) return 0;
    try {
        Application->Initialize();
        Application->CreateForm(SelectWork);
        Application->CreateForm(SelectServer);
        Application->CreateForm(SelectVersion);
        Application->Run();
    } catch (const Exception& e) {
        if (!IsSocketStartFailure(e)) return 0;
        WinsockFailed = true;
        try {
            Application->Run();
        } catch (...) {
        }
    } catch (...) {
    }
    return 0;
}
