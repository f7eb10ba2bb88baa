// Program entry: the BIOS service object first, then the three pages, then
// the message loop; the file-only fallback when the socket layer cannot start.
#include <windows.h>

#include "Forms.h"
#include "PageFrame.h"
#include "Selectserver.h"
#include "Selectversion.h"
#include "Selectwork.h"
#include "Updatebios.h"

namespace {
// The socket layer's texts for "Windows Sockets could not be started": the
// Winsock error 10093 as socket operations report it, and the component's own
// start-up failure.
bool IsSocketStartFailure(const std::string& message) {
    return message == "10093:Successful WSAStartup not yet performed" ||
           message == "Initializaton of windows sockets failed";
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
        if (!IsSocketStartFailure(e.Message)) return 0;
        WinsockFailed = true;
        try {
            Application->Run();
        } catch (...) {
        }
    } catch (...) {
    }
    return 0;
}
