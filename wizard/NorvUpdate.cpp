// Program entry: the BIOS service object first, then the three pages, then
// the message loop; the file-only fallback when the socket layer cannot start.
#include "Psock.h"  // first: Winsock before windows.h

#include "Forms.h"
#include "PageFrame.h"
#include "Selectserver.h"
#include "Selectversion.h"
#include "Selectwork.h"
#include "Updatebios.h"

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
