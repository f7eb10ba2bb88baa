// A stand-in "ICMP.DLL" for the tests that must see what the components hand
// to the service: it records every IcmpSendEcho call and then either answers
// from a script or passes the call on to the system's own service.
#pragma once
#include <windows.h>

#include <cstdint>

struct FakeEchoCall {
    uint32_t Dest;           // network byte order
    uint32_t RequestSize;    // the size argument (16 bits)
    uint32_t HashBytes;      // how many request bytes are '#'
    uint32_t ReplySize;
    uint32_t Timeout;
    uint8_t Ttl, Tos, Flags, OptionsSize;
    uint32_t HasOptionsData;
    uint32_t EchoedHashBytes;  // passed on: '#' bytes in the answer's data
};

struct FakeEchoAnswer {
    uint32_t Status;
    uint32_t Address;  // network byte order
    uint32_t RoundTripTime;
    uint32_t DataSize;
    uint32_t Result;     // return value of IcmpSendEcho
    uint32_t LastError;  // set when Result is 0
    uint32_t WriteRecord;
};

extern "C" {
// Forgets the calls and the script; createFails makes IcmpCreateFile fail.
typedef void(WINAPI* TFakeIcmpReset)(int createFails);
// Answers the next calls from the list, in order; later calls go to the
// system's service.
typedef void(WINAPI* TFakeIcmpScript)(const FakeEchoAnswer* answers, int count);
typedef int(WINAPI* TFakeIcmpCallCount)();
typedef BOOL(WINAPI* TFakeIcmpCall)(int index, FakeEchoCall* call);
}
