// norvunzip: lists or extracts a zip archive with the same unpacker as
// unzip32.dll; the exit code is the unpacker's result code.
//   norvunzip list ARCHIVE            member names as the wizard receives them,
//                                     then "=> " and the member it would choose
//   norvunzip extract ARCHIVE FOLDER  every member below FOLDER, overwriting
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "MemberChoice.h"
#include "Unzip.h"

namespace {

const char kUsage[] =
    "usage: norvunzip list ARCHIVE\n"
    "       norvunzip extract ARCHIVE FOLDER\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return zipr::kBadOptions;
}

void ToStderr(const std::string& text) { std::fputs(text.c_str(), stderr); }

int List(const char* archive) {
    zipr::Job job;
    job.Archive = archive;
    job.Action = zipr::Mode::List;
    job.Quiet = 1;
    job.Text = ToStderr;
    int best = kNoMemberRank;
    std::string chosen;
    job.OnMember = [&](const zipr::Member& m) {
        std::printf("%s\n", m.Name.c_str());
        std::vector<char> name(m.Name.begin(), m.Name.end());
        name.push_back('\0');
        OfferMember(name.data(), best, chosen, "");
    };
    int r = zipr::Run(job);
    if (r < 2) std::printf("=> %s\n", chosen.empty() ? "(none)" : chosen.c_str());
    return r;
}

int Extract(const char* archive, const char* folder) {
    zipr::Job job;
    job.Archive = archive;
    job.Folder = folder;
    job.Action = zipr::Mode::Extract;
    job.Quiet = 1;
    job.Text = ToStderr;
    return zipr::Run(job);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "list") == 0) return List(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "extract") == 0) return Extract(argv[2], argv[3]);
    return Usage();
}
