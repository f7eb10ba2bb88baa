#include "Qvicmp.h"

#include <winsock.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "LibraryLoad.h"
#include "Forms.h"
#include "Wait.h"

using namespace icmpapi;


const char* IcmpLibraryName = "ICMP.DLL";

namespace {

const char kWindowClass[] = "TQVICMPWindow";
constexpr int kHostEntrySize = 1024;  // room for one host entry (MAXGETHOSTSTRUCT)
constexpr size_t kHostTextSize = 128;

// The first IPv4 address of a host entry that a look-up wrote; false when the
// entry holds none.
bool FirstAddress(const char* buffer, uint32_t& address) {
    const auto* he = reinterpret_cast<const hostent*>(buffer);
    if (he->h_addrtype != AF_INET || he->h_length != 4 || !he->h_addr_list || !he->h_addr_list[0]) return false;
    std::memcpy(&address, he->h_addr_list[0], 4);
    return true;
}

}  // namespace

std::string DottedAddress(uint32_t address) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

// One asynchronous look-up: the service's task handle, the buffer it writes
// the host entry into, and whether its answer has come (and was good).
struct TQVICMP::TLookup {
    HANDLE Task = nullptr;
    std::unique_ptr<char[]> Buffer{new char[kHostEntrySize]()};
    bool Done = false;
    bool OK = false;
    bool Waited = true;  // someone waits for it; false once abandoned
};

// ---------------------------------------------------------------------------
// Construction and destruction

TQVICMP::TQVICMP(TComponent* owner) : TComponent(owner) {
    try {
        static const bool registered = [] {
            WNDCLASSEXA wc = {};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = StaticWndProc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = kWindowClass;
            return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
        }();
        (void)registered;
        Window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        if (Window) SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

        Library = LoadSystemLibrary(IcmpLibraryName);
        if (!Library) throw EICMPError("Unable to load ICMP.DLL");
        IcmpCreateFile = reinterpret_cast<TIcmpCreateFile>(GetProcAddress(Library, "IcmpCreateFile"));
        IcmpCloseHandle = reinterpret_cast<TIcmpCloseHandle>(GetProcAddress(Library, "IcmpCloseHandle"));
        IcmpSendEcho = reinterpret_cast<TIcmpSendEcho>(GetProcAddress(Library, "IcmpSendEcho"));
        if (!IcmpCreateFile || !IcmpCloseHandle || !IcmpSendEcho)
            throw EICMPError("Failure to import one or more routines from ICMP.DLL");

        WinsockData.reset(new WSADATA());
        if (WSAStartup(0x0101, WinsockData.get()) != 0) throw EICMPError("Error starting Winsock");
        WinsockStarted = true;

        EchoOptions.reset(new IP_OPTION_INFORMATION());
        // A failure here shows later: Ping and Trace report the missing handle.
        EchoHandle = IcmpCreateFile();
    } catch (...) {
        Release();
        throw;
    }
}

TQVICMP::~TQVICMP() { Release(); }

void TQVICMP::Release() {
    if (Window) {
        SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
        DestroyWindow(Window);
        Window = nullptr;
    }
    if (EchoHandle != INVALID_HANDLE_VALUE && EchoHandle && IcmpCloseHandle) IcmpCloseHandle(EchoHandle);
    EchoHandle = INVALID_HANDLE_VALUE;
    if (Library) FreeLibrary(Library);
    Library = nullptr;
    // Only a start-up that succeeded is ended: an unmatched clean-up would end
    // another component's Winsock use.
    if (WinsockStarted) WSACleanup();
    WinsockStarted = false;
    // The service may still write the host entry of a look-up whose answer
    // never came (the task cannot be reliably cancelled): such a buffer is
    // left allocated rather than handed back while it can still be written.
    for (auto& l : Outstanding) {
        WSACancelAsyncRequest(l->Task);
        (void)l->Buffer.release();
    }
    Outstanding.clear();
}

// ---------------------------------------------------------------------------
// Hidden window

LRESULT CALLBACK TQVICMP::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TQVICMP*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wp, lp);
    LRESULT result = 0;
    Guarded([&] { result = self->WndProc(msg, wp, lp); });
    return result;
}

LRESULT TQVICMP::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (Msg != WM_ICMP_LOOKUP) return DefWindowProcA(Window, Msg, wParam, lParam);
    // The answer names its look-up by the task handle; answers of look-ups
    // nobody started, or started and abandoned, change no pending look-up.
    const HANDLE task = reinterpret_cast<HANDLE>(wParam);
    auto it = std::find_if(Outstanding.begin(), Outstanding.end(),
                           [task](const std::unique_ptr<TLookup>& l) { return l->Task == task; });
    if (it == Outstanding.end()) return 0;
    TLookup& l = **it;
    if (!l.Waited) {
        Outstanding.erase(it);  // its buffer is no longer written: free it now
        return 0;
    }
    l.OK = HIWORD(lParam) == 0;
    l.Done = true;
    LookupOK = l.OK;
    LookupDone = true;
    return 0;
}

std::unique_ptr<TQVICMP::TLookup> TQVICMP::Lookup(const std::function<HANDLE(char*, int)>& start) {
    Outstanding.push_back(std::make_unique<TLookup>());
    TLookup* l = Outstanding.back().get();
    LookupDone = false;
    l->Task = start(l->Buffer.get(), kHostEntrySize);
    if (!l->Task) {  // never started: no answer will come
        Outstanding.pop_back();
        return nullptr;
    }
    // Look-ups started inside the wait (from a handler) may add and remove
    // entries, so the entry is found again by address afterwards.
    WaitUntil([l] { return l->Done; }, &Aborted);
    auto it = std::find_if(Outstanding.begin(), Outstanding.end(),
                           [l](const std::unique_ptr<TLookup>& p) { return p.get() == l; });
    if (!l->Done) {
        l->Waited = false;  // the answer frees it when it comes
        throw EICMPError("Operation aborted");
    }
    std::unique_ptr<TLookup> done = std::move(*it);
    Outstanding.erase(it);
    return done;
}

// ---------------------------------------------------------------------------
// Resolution, abort, reverse look-up

void TQVICMP::ResolveAddresses() {
    // The host text goes through a buffer of 128 bytes, the terminating zero
    // included; a longer text is no host the components can look up.
    if (Host.size() >= kHostTextSize) {
        Fire(OnInvalidHost, this);
        throw EICMPError("Host lookup failed");
    }
    char text[kHostTextSize] = {};
    std::memcpy(text, Host.data(), Host.size());
    const unsigned long parsed = inet_addr(text);
    if (parsed != INADDR_NONE) {
        DestAddress_ = static_cast<uint32_t>(parsed);
        return;
    }
    std::unique_ptr<TLookup> l = Lookup([&](char* buffer, int size) {
        return WSAAsyncGetHostByName(Window, WM_ICMP_LOOKUP, text, buffer, size);
    });
    uint32_t address = 0;
    if (!l || !l->OK || !FirstAddress(l->Buffer.get(), address)) {
        Fire(OnInvalidHost, this);
        throw EICMPError("Host lookup failed");
    }
    DestAddress_ = address;
}

void TQVICMP::Abort() {
    Aborted = true;
    Fire(OnStatus, this, -1, std::string("Local Abort"));
    Fire(OnAbort, this);
}

std::string TQVICMP::GetHostName(uint32_t address) {
    std::unique_ptr<TLookup> l = Lookup([&](char* buffer, int size) {
        return WSAAsyncGetHostByAddr(Window, WM_ICMP_LOOKUP, reinterpret_cast<const char*>(&address), 4, AF_INET,
                                     buffer, size);
    });
    if (!l || !l->OK) return std::string();
    const auto* he = reinterpret_cast<const hostent*>(l->Buffer.get());
    return he->h_name ? std::string(he->h_name) : std::string();
}

// ---------------------------------------------------------------------------
// Echo requests

TQVICMP::TEchoBuffers::TEchoBuffers(int32_t packetSize)
    : Request(static_cast<size_t>(packetSize), '#'),
      Reply((ReplyBufferSize(static_cast<size_t>(packetSize)) + 7) / 8),
      ReplySize(static_cast<DWORD>(ReplyBufferSize(static_cast<size_t>(packetSize)))) {}

void TQVICMP::CheckPacketSize() const {
    // The service takes the size as 16 bits; a larger or negative size would
    // send something else than asked.
    if (PacketSize < 0 || PacketSize > 65535) throw EICMPError("Invalid packet size");
}

void TQVICMP::CheckEchoHandle() const {
    if (EchoHandle == INVALID_HANDLE_VALUE || !EchoHandle) throw EICMPError("Error initializing ICMP Handle");
}

TQVICMP::TEcho TQVICMP::SendEcho(TEchoBuffers& buffers, uint8_t ttl) {
    *EchoOptions = IP_OPTION_INFORMATION();
    EchoOptions->Ttl = ttl;
    // A reply record that the service did not write must not read as the
    // answer of an earlier request, nor as a success.
    std::fill(buffers.Reply.begin(), buffers.Reply.end(), 0);
    static char noData = 0;
    const DWORD answers =
        IcmpSendEcho(EchoHandle, DestAddress_, buffers.Request.empty() ? &noData : buffers.Request.data(),
                     static_cast<WORD>(PacketSize & 0xFFFF), EchoOptions.get(), buffers.Reply.data(),
                     buffers.ReplySize, static_cast<DWORD>(TimeOut));
    const DWORD error = answers ? 0 : GetLastError();
    ICMP_ECHO_REPLY reply;
    std::memcpy(&reply, buffers.Reply.data(), sizeof reply);
    TEcho echo;
    echo.Status = reply.Status;
    echo.Address = reply.Address;
    echo.RoundTripTime = reply.RoundTripTime;
    echo.DataSize = reply.DataSize;
    if (!answers && echo.Status == kIpSuccess)
        echo.Status = error > kIpStatusBase && error <= kIpGeneralFailure ? static_cast<uint32_t>(error) : uint32_t{kIpGeneralFailure};
    return echo;
}

// ---------------------------------------------------------------------------
// TQVPing

TQVPing::TQVPing(TComponent* owner) : TQVICMP(owner) { Pings = 4; }

void TQVPing::Ping() {
    Aborted = false;
    CheckPacketSize();
    ResolveAddresses();
    CheckEchoHandle();
    TEchoBuffers buffers(PacketSize);
    for (int32_t i = 0; i < Pings; ++i) {
        Application->ProcessMessages();
        if (Aborted) {
            Aborted = false;
            return;
        }
        if (AppTerminating()) return;
        const TEcho echo = SendEcho(buffers, 255);
        const std::string from = DottedAddress(echo.Address);
        switch (echo.Status) {
        case kIpSuccess:
            Fire(OnPing, this, from, static_cast<int>(echo.DataSize), static_cast<int>(echo.RoundTripTime));
            break;
        case kIpDestNetUnreachable:
        case kIpDestHostUnreachable:
            Fire(OnHostUnreachable, this, from);
            break;
        case kIpReqTimedOut:
            Fire(OnTimeOut, this);
            break;
        default:
            break;
        }
        Fire(OnStatus, this, static_cast<int>(echo.Status), from);
    }
}

// ---------------------------------------------------------------------------
// TQVTraceRt

TQVTraceRt::TQVTraceRt(TComponent* owner) : TQVICMP(owner) { MaxHops = 30; }

void TQVTraceRt::Trace() {
    Aborted = false;
    TraceDone = false;
    CheckPacketSize();
    ResolveAddresses();
    CheckEchoHandle();
    TEchoBuffers buffers(PacketSize);
    int times[3] = {-1, -1, -1};
    // The test comes before the hop number is raised, so a trace that never
    // arrives probes MaxHops + 1 hops.
    int32_t hop = 0;
    while (hop <= MaxHops && !Aborted && !TraceDone && !AppTerminating()) {
        ++hop;
        TEcho echo;
        for (int& slot : times) {
            echo = SendEcho(buffers, static_cast<uint8_t>(hop & 0xFF));
            if (echo.Status == kIpSuccess || echo.Status == kIpTtlExpiredTransit) {
                slot = static_cast<int>(echo.RoundTripTime);
            } else if (echo.Status == kIpReqTimedOut) {
                slot = -1;
                Fire(OnTimeOut, this);
            }
            Application->ProcessMessages();
            if (Aborted || AppTerminating()) return;
        }
        const std::string from = DottedAddress(echo.Address);
        switch (echo.Status) {
        case kIpSuccess:
        case kIpReqTimedOut:
        case kIpTtlExpiredTransit:
            Fire(OnHop, this, from, times[0], times[1], times[2], static_cast<int>(hop));
            break;
        case kIpDestNetUnreachable:
        case kIpDestHostUnreachable:
            Fire(OnHostUnreachable, this, from);
            TraceDone = true;
            break;
        default:
            break;
        }
        Fire(OnStatus, this, static_cast<int>(echo.Status), from);
        if (echo.Status == kIpSuccess && echo.Address == DestAddress()) {
            Fire(OnTraceComplete, this);
            TraceDone = true;
        }
    }
}
