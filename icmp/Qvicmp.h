// ICMP echo and route-trace components on the platform's ICMP service library
// ("ICMP.DLL"): TQVICMP (service handle, host-name resolution, abort request),
// TQVPing (a fixed number of echo requests to one host) and TQVTraceRt (the
// route to a host, one time-to-live after the other). Failures raise EICMPError.
//
// Everything runs on the calling (user-interface) thread: the echo call blocks,
// and between steps the components let the application process its messages,
// so that the window stays alive and an Abort can arrive.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Exception.h"

struct WSAData;

class EICMPError : public Exception {
public:
    using Exception::Exception;
};

// The ICMP service library's records and entry points, declared here so the
// components need no SDK header of it. The records keep the platform's
// natural layout: with 32-bit pointers the option record has 8 bytes and the
// reply record 28; 64-bit Windows widens both pointers (16 and 40 bytes). The
// fields the components read come first and sit at the same offsets in both.
namespace icmpapi {

using IPAddr = uint32_t;  // IPv4 address, network byte order

struct IP_OPTION_INFORMATION {
    uint8_t Ttl;
    uint8_t Tos;
    uint8_t Flags;
    uint8_t OptionsSize;
    uint8_t* OptionsData;
};

struct ICMP_ECHO_REPLY {
    IPAddr Address;          // who answered
    uint32_t Status;         // IP status code
    uint32_t RoundTripTime;  // milliseconds
    uint16_t DataSize;
    uint16_t Reserved;
    void* Data;  // the answer's data, inside the reply buffer
    IP_OPTION_INFORMATION Options;
};

#if !defined(_WIN64)
static_assert(sizeof(IP_OPTION_INFORMATION) == 8, "32-bit IP option record has 8 bytes");
static_assert(sizeof(ICMP_ECHO_REPLY) == 28, "32-bit echo reply record has 28 bytes");
#else
static_assert(sizeof(IP_OPTION_INFORMATION) == 16, "64-bit IP option record has 16 bytes");
static_assert(sizeof(ICMP_ECHO_REPLY) == 40, "64-bit echo reply record has 40 bytes");
#endif
static_assert(offsetof(ICMP_ECHO_REPLY, Status) == 4 && offsetof(ICMP_ECHO_REPLY, RoundTripTime) == 8 &&
                  offsetof(ICMP_ECHO_REPLY, DataSize) == 12,
              "reply fields at their platform offsets");

using TIcmpCreateFile = HANDLE(WINAPI*)();
using TIcmpCloseHandle = BOOL(WINAPI*)(HANDLE);
using TIcmpSendEcho = DWORD(WINAPI*)(HANDLE IcmpHandle, IPAddr DestinationAddress, LPVOID RequestData,
                                     WORD RequestSize, IP_OPTION_INFORMATION* RequestOptions, LPVOID ReplyBuffer,
                                     DWORD ReplySize, DWORD Timeout);

// IP status codes that the components tell apart.
enum : uint32_t {
    kIpSuccess = 0,
    kIpStatusBase = 11000,
    kIpDestNetUnreachable = 11002,
    kIpDestHostUnreachable = 11003,
    kIpReqTimedOut = 11010,
    kIpTtlExpiredTransit = 11013,
    kIpGeneralFailure = 11050,
};

// Reply buffer for an echo of packetSize data bytes: the reply record, room
// for the answer's data, and 16 bytes more (for an ICMP error's extra
// header). With 32-bit pointers that is packetSize + 44.
constexpr size_t ReplyBufferSize(size_t packetSize) { return sizeof(ICMP_ECHO_REPLY) + 16 + packetSize; }

}  // namespace icmpapi

// The asynchronous look-ups answer with this message to the hidden window.
constexpr UINT WM_ICMP_LOOKUP = WM_USER + 101;

// Handlers: the sender first, as every component event.
using TPingEvent = std::function<void(TObject* Sender, const std::string& Host, int Size, int Time)>;
using THopEvent =
    std::function<void(TObject* Sender, const std::string& Host, int Time1, int Time2, int Time3, int HopNo)>;
using THostEvent = std::function<void(TObject* Sender, const std::string& Host)>;
using TStatusEvent = std::function<void(TObject* Sender, int Status, const std::string& Host)>;

// Dotted decimal form of an IPv4 address in network byte order.
std::string DottedAddress(uint32_t address);

// The ICMP service library each component loads: "ICMP.DLL", from the
// system folder only. A full path is taken as it is (the tests' stand-in).
extern const char* IcmpLibraryName;

class TQVICMP : public TComponent {
public:
    // Raises EICMPError when the ICMP service or Winsock cannot be set up.
    explicit TQVICMP(TComponent* owner);
    ~TQVICMP() override;

    std::string Host;         // host name or dotted IPv4 address to probe
    int32_t PacketSize = 32;  // echo data bytes, 0 to 65535
    int32_t TimeOut = 5000;   // milliseconds per echo request

    TNotifyEvent OnAbort;
    TNotifyEvent OnInvalidHost;
    TNotifyEvent OnTimeOut;
    THostEvent OnHostUnreachable;
    TStatusEvent OnStatus;

    // Asks a running Ping, Trace or look-up to stop; fires OnStatus
    // (-1, "Local Abort") and OnAbort at once.
    void Abort();
    // Turns Host into the destination address: a dotted address directly,
    // anything else by an asynchronous look-up by name.
    void ResolveAddresses();
    // Reverse look-up of an IPv4 address (network byte order): the host
    // entry's official name, or an empty text when there is none.
    std::string GetHostName(uint32_t address);

    // The address of the last successful resolution (network byte order).
    uint32_t DestAddress() const { return DestAddress_; }
    // The hidden window that receives the look-up answers.
    HWND WindowHandle() const { return Window; }

protected:
    // Window procedure of the hidden window.
    virtual LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam);

    // What one echo request came back with.
    struct TEcho {
        uint32_t Status = 0;
        uint32_t Address = 0;
        uint32_t RoundTripTime = 0;
        uint16_t DataSize = 0;
    };
    // Request and reply buffers of one Ping or Trace call.
    struct TEchoBuffers {
        explicit TEchoBuffers(int32_t packetSize);
        std::vector<char> Request;
        std::vector<uint64_t> Reply;  // 8-byte aligned for the reply record
        DWORD ReplySize;
    };

    // The checks and preparations that Ping and Trace share.
    void CheckPacketSize() const;
    void CheckEchoHandle() const;
    // One echo request with the given time-to-live, blocking until the
    // answer or the time-out.
    TEcho SendEcho(TEchoBuffers& buffers, uint8_t ttl);

    bool Aborted = false;

private:
    struct TLookup;
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void Release();
    // Starts an asynchronous look-up (the callback calls the service with the
    // window, the message and the buffer) and waits for its answer. Returns
    // the look-up with its buffer when it answered; nullptr when it could not
    // start. Raises "Operation aborted" when Abort (or the end of the
    // application) cut the wait short.
    std::unique_ptr<TLookup> Lookup(const std::function<HANDLE(char* buffer, int size)>& start);

    HMODULE Library = nullptr;
    HANDLE EchoHandle = INVALID_HANDLE_VALUE;
    HWND Window = nullptr;
    std::unique_ptr<WSAData> WinsockData;
    bool WinsockStarted = false;
    icmpapi::TIcmpCreateFile IcmpCreateFile = nullptr;
    icmpapi::TIcmpCloseHandle IcmpCloseHandle = nullptr;
    icmpapi::TIcmpSendEcho IcmpSendEcho = nullptr;
    std::unique_ptr<icmpapi::IP_OPTION_INFORMATION> EchoOptions;
    uint32_t DestAddress_ = 0;
    // The answer to the look-up waited for last.
    bool LookupOK = false;
    bool LookupDone = false;
    // Look-ups whose answer has not arrived. Each has its own buffer: the
    // service writes into it until it posts the answer, so a buffer is
    // released only when its answer came (or never, see the destructor).
    std::vector<std::unique_ptr<TLookup>> Outstanding;
};

class TQVPing : public TQVICMP {
public:
    explicit TQVPing(TComponent* owner);

    int32_t Pings = 4;  // echo requests per Ping call
    TPingEvent OnPing;

    // Resolves Host and sends Pings echo requests one after the other;
    // returns when they are done, or quietly after an Abort.
    void Ping();
};

class TQVTraceRt : public TQVICMP {
public:
    explicit TQVTraceRt(TComponent* owner);

    int32_t MaxHops = 30;
    THopEvent OnHop;
    TNotifyEvent OnTraceComplete;

    // Resolves Host and probes the route hop after hop, three requests per
    // hop, until the destination answers, a hop reports it unreachable,
    // MaxHops is passed or Abort is called.
    void Trace();

protected:
    bool TraceDone = false;
};
