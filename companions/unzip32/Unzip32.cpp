// unzip32.dll: the windll_unzip entry point over the portable unpacker.
#define UNZIP32_BUILD
#include "UnzipApi.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "Unzip.h"

namespace {

unsigned long Clamp32(uint64_t v) { return static_cast<unsigned long>(std::min<uint64_t>(v, 0xFFFFFFFFu)); }

unsigned SavedPerMille(uint64_t size, uint64_t compressed) {
    if (size == 0 || compressed >= size) return 0;
    return static_cast<unsigned>((static_cast<double>(size - compressed) * 1000.0) / static_cast<double>(size));
}

std::vector<std::string> Names(int count, char** names) {
    std::vector<std::string> out;
    for (int i = 0; names && i < count; ++i)
        if (names[i]) out.emplace_back(names[i]);
    return out;
}

// Hands one text to the caller's print call-back in a buffer it may keep writing to.
void Print(UzpPrintFn print, const std::string& text) {
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    print(buf.data(), static_cast<unsigned long>(text.size()));
}

void SendMember(UzpMemberFn send, const zipr::Member& m) {
    char name[MAX_PATH];  // the unpacker reports no name longer than MAX_PATH - 1
    std::memset(name, 0, sizeof name);
    std::memcpy(name, m.Name.data(), std::min(m.Name.size(), sizeof name - 1));
    unsigned year = 1980u + (m.DosDate >> 9), month = (m.DosDate >> 5) & 15, day = m.DosDate & 31;
    unsigned hour = m.DosTime >> 11, minute = (m.DosTime >> 5) & 63, second = (m.DosTime & 31) * 2;
    send(Clamp32(m.Size), Clamp32(m.CompressedSize), SavedPerMille(m.Size, m.CompressedSize), month, day, year,
         hour, minute, second, name, zipr::MethodName(m), static_cast<unsigned long>(m.Crc),
         static_cast<char>(m.Encrypted() ? 1 : 0));
}

int Unzip(int includeCount, char** include, int excludeCount, char** exclude, LPDCL dcl, LPUSERFUNCTIONS uf) {
    if (!dcl || !dcl->ZipFileName) return zipr::kBadOptions;
    if (dcl->OnlyNewer || dcl->ToStdout || dcl->FreshenOnly || dcl->TranslateEol || dcl->InfoListing)
        return zipr::kBadOptions;
    zipr::Job job;
    job.Archive = dcl->ZipFileName;
    job.Folder = dcl->ExtractDir ? dcl->ExtractDir : "";
    job.Action = dcl->ListOnly ? zipr::Mode::List : dcl->TestOnly ? zipr::Mode::Test : zipr::Mode::Extract;
    job.Quiet = dcl->Quiet;
    job.KeepPaths = dcl->KeepDirectories != 0;
    job.Overwrite = dcl->OverwriteAll != 0;
    job.IgnoreCase = dcl->IgnoreCase != 0;
    job.Include = Names(includeCount, include);
    job.Exclude = Names(excludeCount, exclude);
    // A path must fit the callers' MAX_PATH buffers: names and output paths alike.
    job.MaxName = MAX_PATH - 1;
    job.MaxPath = MAX_PATH - 1;
    UzpPrintFn print = uf ? uf->Print : nullptr;
    if (print) job.Text = [print](const std::string& text) { Print(print, text); };
    UzpMemberFn send = uf ? uf->SendMember : nullptr;
    if (send) job.OnMember = [send](const zipr::Member& m) { SendMember(send, m); };
    UzpReplaceFn replace = uf ? uf->Replace : nullptr;
    if (replace) {
        job.Replace = [replace](const std::string& path) {
            std::vector<char> buf(path.begin(), path.end());
            buf.push_back('\0');
            return replace(buf.data()) == 1;
        };
    }
    zipr::Totals totals;
    int r = zipr::Run(job, &totals);
    if (uf) {
        uf->TotalSizeComp = Clamp32(totals.Compressed);
        uf->TotalSize = Clamp32(totals.Size);
        uf->CompFactor = SavedPerMille(totals.Size, totals.Compressed) / 10;
        uf->NumMembers = totals.Members;
        uf->CommentLength = static_cast<unsigned long>(totals.Comment.size());
    }
    if (r < 2 && dcl->ShowComment && print && dcl->Quiet < 2 && !totals.Comment.empty()) Print(print, totals.Comment + "\n");
    return r;
}

}  // namespace

extern "C" int WINAPI windll_unzip(int includeCount, char** include, int excludeCount, char** exclude, LPDCL dcl,
                                   LPUSERFUNCTIONS functions) {
    // Nothing may unwind into the caller, which may not even be C++.
    try {
        return Unzip(includeCount, include, excludeCount, exclude, dcl, functions);
    } catch (const std::bad_alloc&) {
        return zipr::kNoMemory;
    } catch (...) {
        return zipr::kAborted;
    }
}
