// The failure line of a tool for what goes wrong before a connection is up:
// the look-up and the connect, in curl's words, from the socket error's kind
// (never from its text). Windows only: it reads ESockError.
#pragma once
#include <cstdint>
#include <string>

#include "Psock.h"
#include "SockText.h"

// "Could not resolve host: H", "Failed to connect to H port P after N ms:
// Couldn't connect to server (10061:Connection refused)", "... Timeout was
// reached"; empty when the error is of another kind, or (connected) a
// time-out that came after the connection was up.
inline std::string ConnectFailureLine(const ESockError& e, const std::string& host, int port, uint32_t elapsedMs,
                                      bool connected) {
    const std::string where = host + " port " + std::to_string(port) + " after " + std::to_string(elapsedMs) + " ms";
    switch (e.Kind) {
    case TSockErrorKind::LookupFailed:
        return "Could not resolve host: " + host;
    case TSockErrorKind::LookupTimedOut:
        return "Could not resolve host: " + host + " (Resolving timed out after " + std::to_string(elapsedMs) + " ms)";
    case TSockErrorKind::ConnectFailed:
        return "Failed to connect to " + where + ": Couldn't connect to server" +
               (e.Code ? " (" + WinsockErrorText(static_cast<uint16_t>(e.Code)) + ")" : std::string());
    case TSockErrorKind::Winsock:
        if (connected) return std::string();
        return "Failed to connect to " + where + ": Couldn't connect to server (" + e.Message + ")";
    case TSockErrorKind::TimedOut:
        if (connected) return std::string();
        return "Failed to connect to " + where + ": Timeout was reached";
    default:
        return std::string();
    }
}

// Wine gives a program its windows through its X11 driver; with no display
// (DISPLAY unset) no window can be made, the socket's hidden window neither,
// and the socket start-up fails. The line that says so and how to give one;
// empty when there is a display.
inline std::string NoDisplayLine(const std::string& startupText) {
    char buf[8];
    if (GetEnvironmentVariableA("DISPLAY", buf, sizeof buf) != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND)
        return std::string();
    return "no display: Wine needs one for the socket's hidden window (" + startupText +
           "); run under xvfb-run, or choose Wine's null display driver: wine reg add "
           "\"HKCU\\Software\\Wine\\Drivers\" /v Graphics /d null";
}
