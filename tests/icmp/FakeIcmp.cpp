#include "FakeIcmp.h"

#include <cstring>
#include <vector>

#include "Qvicmp.h"

using namespace icmpapi;

namespace {

std::vector<FakeEchoCall> calls;
std::vector<FakeEchoAnswer> script;
size_t next = 0;
bool createFails = false;
HANDLE realHandle = INVALID_HANDLE_VALUE;

HMODULE Real() {
    static HMODULE m = LoadLibraryA("iphlpapi.dll");
    return m;
}
template <class F>
F RealEntry(const char* name) {
    return reinterpret_cast<F>(GetProcAddress(Real(), name));
}

uint32_t CountHash(const void* data, size_t n) {
    uint32_t k = 0;
    const char* p = static_cast<const char*>(data);
    for (size_t i = 0; p && i < n; ++i) k += p[i] == '#';
    return k;
}

}  // namespace

// Exported by name, undecorated in both builds (the 32-bit link drops the
// "@n" of __stdcall with --kill-at), as the system's ICMP.DLL exports them.
#define FAKE_EXPORT __declspec(dllexport)

extern "C" {

FAKE_EXPORT HANDLE WINAPI IcmpCreateFile() {
    if (createFails) return INVALID_HANDLE_VALUE;
    if (realHandle == INVALID_HANDLE_VALUE) realHandle = RealEntry<TIcmpCreateFile>("IcmpCreateFile")();
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x1234));
}

FAKE_EXPORT BOOL WINAPI IcmpCloseHandle(HANDLE) { return TRUE; }

FAKE_EXPORT DWORD WINAPI IcmpSendEcho(HANDLE, IPAddr dest, LPVOID data, WORD size, IP_OPTION_INFORMATION* options,
                          LPVOID reply, DWORD replySize, DWORD timeout) {
    FakeEchoCall c = {};
    c.Dest = dest;
    c.RequestSize = size;
    c.HashBytes = CountHash(data, size);
    c.ReplySize = replySize;
    c.Timeout = timeout;
    if (options) {
        c.Ttl = options->Ttl;
        c.Tos = options->Tos;
        c.Flags = options->Flags;
        c.OptionsSize = options->OptionsSize;
        c.HasOptionsData = options->OptionsData != nullptr;
    }
    if (next < script.size()) {
        const FakeEchoAnswer a = script[next++];
        if (a.WriteRecord) {
            ICMP_ECHO_REPLY r = {};
            r.Status = a.Status;
            r.Address = a.Address;
            r.RoundTripTime = a.RoundTripTime;
            r.DataSize = static_cast<uint16_t>(a.DataSize);
            std::memcpy(reply, &r, sizeof r);
        }
        calls.push_back(c);
        if (!a.Result) SetLastError(a.LastError);
        return a.Result;
    }
    const DWORD n = RealEntry<TIcmpSendEcho>("IcmpSendEcho")(realHandle, dest, data, size, options, reply,
                                                             replySize, timeout);
    ICMP_ECHO_REPLY r;
    std::memcpy(&r, reply, sizeof r);
    if (n && r.Data) c.EchoedHashBytes = CountHash(r.Data, r.DataSize);
    calls.push_back(c);
    return n;
}

FAKE_EXPORT void WINAPI FakeIcmpReset(int fails) {
    calls.clear();
    script.clear();
    next = 0;
    createFails = fails != 0;
}

FAKE_EXPORT void WINAPI FakeIcmpScript(const FakeEchoAnswer* answers, int count) {
    script.assign(answers, answers + count);
    next = 0;
}

FAKE_EXPORT int WINAPI FakeIcmpCallCount() { return static_cast<int>(calls.size()); }

FAKE_EXPORT BOOL WINAPI FakeIcmpCall(int index, FakeEchoCall* call) {
    if (index < 0 || static_cast<size_t>(index) >= calls.size()) return FALSE;
    *call = calls[static_cast<size_t>(index)];
    return TRUE;
}

}  // extern "C"
