// norvidx: inspects update index files with the wizard's own readers.
//
//   norvidx site FILE CATEGORY     location of the category's version index
//   norvidx versions FILE MODEL    the board's version list as JSON
//   norvidx lint FILE [MODEL]      lines the reader drops or misreads
//   norvidx hash FILE              the "<sha256>" line of a package
//   norvidx verify FILE [SIG] KEY  checks FILE's signature (SIG, by default
//                                  FILE.sig) with the publisher's public key
//                                  (PEM or DER), as the wizard does
//
// FILE is never deleted (the wizard deletes its downloaded copy).
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "Digest.h"
#include "IndexInspect.h"
#include "IndexReader.h"

namespace {

const char kUsage[] =
    "usage: norvidx site FILE CATEGORY\n"
    "       norvidx versions FILE MODEL\n"
    "       norvidx lint FILE [MODEL]\n"
    "       norvidx hash FILE\n"
    "       norvidx verify FILE [SIG] KEY\n";

class TStderrMessages : public TIndexMessageSink {
public:
    explicit TStderrMessages(std::string file) : file_(std::move(file)) {}
    void ShowIndexMessage(const std::string& text) override {
        std::fprintf(stderr, "norvidx: %s: %s\n", file_.c_str(), text.c_str());
    }

private:
    std::string file_;
};

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

int Site(const std::string& file, const std::string& category) {
    TStderrMessages messages(file);
    TVersionEntries list;
    std::unique_ptr<VersionInfo> current;
    TIndexContext ctx{std::string(), current, messages, list};
    if (!FindIndexPath(ctx, file, category)) return 1;
    Print(current->FilePath + "\n");
    return 0;
}

int Versions(const std::string& file, const std::string& model) {
    TStderrMessages messages(file);
    TVersionEntries list;
    std::unique_ptr<VersionInfo> current;
    TIndexContext ctx{model, current, messages, list};
    const bool listed = ParseVersionIndex(ctx, file, TIndexFileAfterReading::Keep);
    Print(VersionsJson(list));
    return listed ? 0 : 1;
}

int Lint(const std::string& file, const std::string* model) {
    std::vector<TIndexWarning> warnings;
    if (!LintVersionIndex(file, model, warnings)) {
        std::fprintf(stderr, "norvidx: %s: %s\n", file.c_str(), IndexOpenErrorText);
        return 2;
    }
    for (const auto& w : warnings) Print(file + ":" + std::to_string(w.Line) + ": " + w.Text + "\n");
    return warnings.empty() ? 0 : 1;
}

int Hash(const std::string& file) {
    TSha256Digest digest;
    if (!Sha256OfFile(file, digest)) {
        std::fprintf(stderr, "norvidx: %s: cannot be read\n", file.c_str());
        return 2;
    }
    Print("<sha256> " + Sha256Hex(digest) + "\n");
    return 0;
}

// 0: good; 1: the signature is missing or does not match; 2: a file or the
// key cannot be used.
int Verify(const std::string& file, const std::string& sigFile, const std::string& keyFile) {
    TBytes keyText, key, signature;
    if (!ReadSmallFile(keyFile, keyText) || !PublicKeyDer(keyText, key)) {
        std::fprintf(stderr, "norvidx: %s: not a public key\n", keyFile.c_str());
        return 2;
    }
    if (!ReadSmallFile(sigFile, signature)) {
        std::fprintf(stderr, "norvidx: %s: no signature\n", sigFile.c_str());
        return 1;
    }
    switch (VerifyFileSignature(file, signature, key)) {
    case TSignatureCheck::Valid:
        Print(file + ": signature good\n");
        return 0;
    case TSignatureCheck::Invalid:
        Print(file + ": signature BAD\n");
        return 1;
    case TSignatureCheck::BadKey:
        std::fprintf(stderr, "norvidx: %s: not an RSA key of %u bits or more\n", keyFile.c_str(), MinPublisherKeyBits);
        return 2;
    case TSignatureCheck::Unreadable:
        break;
    }
    std::fprintf(stderr, "norvidx: %s: cannot be read\n", file.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every system: line feeds are not turned into CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() == 3 && args[0] == "site") return Site(args[1], args[2]);
    if (args.size() == 3 && args[0] == "versions") return Versions(args[1], args[2]);
    if (args.size() == 2 && args[0] == "lint") return Lint(args[1], nullptr);
    if (args.size() == 3 && args[0] == "lint") return Lint(args[1], &args[2]);
    if (args.size() == 2 && args[0] == "hash") return Hash(args[1]);
    if (args.size() == 3 && args[0] == "verify") return Verify(args[1], args[1] + ".sig", args[2]);
    if (args.size() == 4 && args[0] == "verify") return Verify(args[1], args[2], args[3]);
    std::fputs(kUsage, stderr);
    return 2;
}
