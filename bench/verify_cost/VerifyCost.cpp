// The cost of the publisher checks in an update from the Internet, measured
// on the wizard's own FTP client and checks, in the order the wizard makes
// them: the downloads an update makes anyway (site index, version index,
// package, each after its directory change) against what the checks add (the
// two signatures fetched beside the indexes, both verified, the package
// hashed). Prints the medians of RUNS rounds in milliseconds.
//   verify_cost HOST SITEPATH KEY.der TEMPDIR [RUNS]
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "Digest.h"
#include "Forms.h"
#include "Qvftp.h"

namespace {
double Now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: verify_cost HOST SITEPATH KEY.der TEMPDIR [RUNS]\n", stderr);
        return 2;
    }
    const std::string host = argv[1], sitePath = argv[2], temp = std::string(argv[4]) + "\\";
    const int runs = argc > 5 ? std::atoi(argv[5]) : 15;
    TBytes key;
    if (!ReadSmallFile(argv[3], key)) return 2;
    Application->Initialize();
    std::vector<double> base, sigNet, cpu;
    try {
        TQVFTP ftp(nullptr);
        ftp.Host = host;
        ftp.Port = 21;
        ftp.UserID = "anonymous";
        ftp.Password = "norv@norv.com";
        ftp.TimeOut = 20000;
        ftp.Connect();
        const std::string siteIdx = temp + "Path.idx", boardIdx = temp + "board.idx", pkg = temp + "a1v1003.zip";
        for (int r = 0; r < runs; ++r) {
            double b = 0, n = 0, c = 0, t;
            TBytes sig;
            bool ok = true;
            TSha256Digest digest;
            // One signed index: its download counts as the update's own, the
            // signature's download and check as what verifying adds.
            auto signedIndex = [&](const std::string& dir, const std::string& name, const std::string& local) {
                t = Now();
                ftp.ChangeDir(dir);
                ftp.Download(name, local);
                b += Now() - t;
                t = Now();
                ftp.Download(name + ".sig", local + ".sig");
                n += Now() - t;
                t = Now();
                ok &= ReadSmallFile(local + ".sig", sig) && VerifyFileSignature(local, sig, key) == TSignatureCheck::Valid;
                c += Now() - t;
            };
            signedIndex(sitePath, "Path.idx", siteIdx);
            signedIndex("bios/", "board.idx", boardIdx);

            t = Now();
            ftp.ChangeDir("a1/");
            ftp.Download("a1v1003.zip", pkg);
            b += Now() - t;
            t = Now();
            ok &= Sha256OfFile(pkg, digest);
            c += Now() - t;
            if (!ok) {
                std::fputs("verify_cost: a check failed\n", stderr);
                return 1;
            }
            base.push_back(b);
            sigNet.push_back(n);
            cpu.push_back(c);
        }
        ftp.Disconnect();
    } catch (const Exception& e) {
        std::fprintf(stderr, "verify_cost: %s\n", e.Message.c_str());
        return 1;
    }
    const double mb = Median(base), mn = Median(sigNet), mc = Median(cpu);
    std::printf("runs=%d downloads_ms=%.2f signature_downloads_ms=%.2f verify_and_hash_ms=%.2f added_ms=%.2f "
                "added_share=%.1f%%\n",
                runs, mb, mn, mc, mn + mc, 100.0 * (mn + mc) / mb);
    return 0;
}
