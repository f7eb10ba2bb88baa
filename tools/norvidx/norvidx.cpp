// norvidx: inspects update index files with the wizard's own readers.
//
//   norvidx site FILE CATEGORY     location of the category's version index
//   norvidx versions FILE MODEL    the board's version list as JSON
//   norvidx lint FILE [MODEL]      lines the reader drops or misreads
//
// FILE is never deleted (the wizard deletes its downloaded copy).
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "IndexInspect.h"
#include "IndexReader.h"

namespace {

const char kUsage[] =
    "usage: norvidx site FILE CATEGORY\n"
    "       norvidx versions FILE MODEL\n"
    "       norvidx lint FILE [MODEL]\n";

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

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every system: line feeds are not turned into CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "site") return Site(args[1], args[2]);
    if (args.size() == 3 && args[0] == "versions") return Versions(args[1], args[2]);
    if (args.size() == 2 && args[0] == "lint") return Lint(args[1], nullptr);
    if (args.size() == 3 && args[0] == "lint") return Lint(args[1], &args[2]);
    std::fputs(kUsage, stderr);
    return 2;
}
