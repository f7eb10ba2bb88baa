// Helpers for the FTP client's Win32 tests: the scripted server's admin port,
// the test pattern, files, and a recorder of the client's events.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Qvftp.h"

namespace ftptest {

// The scripted server of the fixture (tests/ftp/scripted_ftpd.py).
constexpr const char* kScriptedAddr = "127.0.0.40";
constexpr int kScriptedPort = 2121;
constexpr int kScriptedAdmin = 2120;
// A second local address from which the scripted server can connect.
constexpr const char* kOtherAddr = "127.0.0.41";

// Loads a scenario (JSON) and clears the record; false when the server refused it.
bool LoadScenario(const std::string& json);
// Waits until the scripted server has no session open.
bool WaitIdle(double seconds = 10);
// The record since the last scenario.
std::vector<std::string> ServerLog();
// True when the record has the entry.
bool Logged(const std::vector<std::string>& log, const std::string& entry);
// Entries starting with prefix.
std::vector<std::string> LoggedStarting(const std::vector<std::string>& log, const std::string& prefix);

// Points ftp at the vsftpd the suite runs against: NORV_FTP_HOST (default
// ftp.norv.test, 127.0.0.20 in the namespace's hosts file), in passive mode
// when NORV_FTP_PASSIVE is 1 (the same suites then run against a server that
// refuses PORT).
void UseTestServer(TQVFTP& ftp);
// True for the status text of a data connection set-up (PORT, EPSV, PASV).
bool IsDataSetUp(const std::string& status);

// The scripted server's data pattern: byte at offset i is i % 251.
std::string Pattern(size_t offset, size_t n);

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// A fresh path in the temporary folder (any file of that name removed).
std::string TempFile(const std::string& name);
// Compares two files in chunks; true when they hold the same bytes.
bool SameFiles(const std::string& a, const std::string& b);

// Records what the client reports.
struct Recorder {
    explicit Recorder(TQVFTP& ftp);
    ~Recorder();  // takes its handlers off the client again
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    TQVFTP& ftp;
    std::vector<std::string> status;  // level-1 texts without line ends
    std::vector<TCmdType> successes, failures, unsupported;
    int packets = 0;
    bool handleFailures = false;  // OnFailure sets Handled
    bool Saw(const std::string& text) const;
};

// The exception text of fn ("" when none) and whether it was of type E.
template <class E, class F>
std::string RaisedAs(F&& fn, bool* ofType = nullptr) {
    if (ofType) *ofType = false;
    try {
        fn();
    } catch (const E& e) {
        if (ofType) *ofType = true;
        return e.what();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// Milliseconds since some fixed time.
inline uint32_t Now() { return GetTickCount(); }

}  // namespace ftptest
