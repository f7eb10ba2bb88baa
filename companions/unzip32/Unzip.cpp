#include "Unzip.h"

#include <cctype>
#include <cstdio>

#include "FileSys.h"

namespace zipr {

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

class Run_ {
public:
    Run_(Source& src, const Job& job, Totals* totals) : job_(job), totals_(totals), zip_(src) {}

    int Go() {
        int r = zip_.Open();
        if (r != kOk) return Error(r, job_.Archive + ": " + zip_.Error());
        if (totals_) totals_->Comment = zip_.Comment();
        r = Select();
        if (r >= 2) return r;
        switch (job_.Action) {
        case Mode::List: return Worst(r, List());
        case Mode::Test: return Worst(r, Test());
        case Mode::Extract: return Worst(r, Extract());
        }
        return r;
    }

private:
    static int Worst(int a, int b) { return b > a ? b : a; }

    void Say(int level, const std::string& text) {
        // Level 0: progress and listings; 1: warnings and errors.
        if (job_.Text && job_.Quiet <= (level == 0 ? 0 : 1)) job_.Text(text + "\n");
    }
    int Error(int code, const std::string& why) {
        Say(1, "error: " + why);
        return code;
    }

    bool Wanted(const Member& m) const {
        auto any = [&](const std::vector<std::string>& pats) {
            for (const auto& p : pats)
                if (Matches(p, m.Name, job_.IgnoreCase)) return true;
            return false;
        };
        if (!job_.Include.empty() && !any(job_.Include)) return false;
        return !any(job_.Exclude);
    }

    // Chooses the members to work on and makes every check that needs no data.
    int Select() {
        int r = kOk;
        uint64_t total = 0;
        bool matched = false;
        for (const Member& m : zip_.Members()) {
            if (!Wanted(m)) continue;
            matched = true;
            if (!SafeName(m.Name)) {
                Say(1, "warning: skipped \"" + Printable(m.Name) + "\": the name points outside the extraction folder");
                r = kWarning;
                continue;
            }
            if (m.Name.size() > job_.MaxName ||
                (job_.MaxPath && OutputPath(job_.Folder, m.Name, job_.KeepPaths).size() > job_.MaxPath)) {
                Say(1, "warning: skipped \"" + Printable(m.Name) + "\": the path is too long");
                r = kWarning;
                continue;
            }
            if (!m.Directory()) {
                if (m.Encrypted()) return Error(kEncrypted, "\"" + m.Name + "\" is encrypted; encrypted members are not supported");
                if (!m.Supported()) return Error(kUnsupported, "\"" + m.Name + "\": compression method " + std::to_string(m.Method) + " is not supported");
                total += m.Size;
                if (total > job_.MaxTotal) return Error(kOutputLimit, "the archive unpacks to more than " + std::to_string(job_.MaxTotal) + " bytes");
            }
            chosen_.push_back(&m);
        }
        if (!job_.Include.empty() && !matched) return Error(kNoMatch, "no member matches");
        return r;
    }

    static std::string Printable(const std::string& s) {
        std::string out;
        for (unsigned char c : s) {
            if (c < 0x20 || c == 0x7f) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
        return out;
    }

    void Count(const Member& m) {
        if (!totals_) return;
        totals_->Compressed += m.CompressedSize;
        totals_->Size += m.Size;
        ++totals_->Members;
    }

    int List() {
        for (const Member* m : chosen_) {
            Count(*m);
            if (job_.Quiet == 0 && job_.Text) {
                char line[128];
                unsigned year = 1980u + (m->DosDate >> 9), month = (m->DosDate >> 5) & 15, day = m->DosDate & 31;
                unsigned hour = m->DosTime >> 11, minute = (m->DosTime >> 5) & 63;
                std::snprintf(line, sizeof line, "%10llu  %-7s %10llu  %04u-%02u-%02u %02u:%02u  %08lx  ",
                              static_cast<unsigned long long>(m->Size), MethodName(*m),
                              static_cast<unsigned long long>(m->CompressedSize), year, month, day, hour, minute,
                              static_cast<unsigned long>(m->Crc));
                job_.Text(line + m->Name + "\n");
            }
            if (job_.OnMember) job_.OnMember(*m);
        }
        return kOk;
    }

    int Test() {
        for (const Member* m : chosen_) {
            Count(*m);
            if (m->Directory()) continue;
            int r = zip_.Read(*m, [](const uint8_t*, size_t) { return true; });
            if (r != kOk) return Error(r, zip_.Error());
            Say(0, "    testing: " + m->Name + "   OK");
        }
        return kOk;
    }

    // Creates the folders on the way to path, from the extraction folder down.
    bool MakeParents(const std::string& path, size_t from) {
        for (size_t i = from; i < path.size(); ++i) {
            if (IsSep(path[i]) && i > 0 && !IsSep(path[i - 1])) {
                if (!fsys::MakeDir(path.substr(0, i))) return false;
            }
        }
        return true;
    }

    int Extract() {
        std::string root = job_.Folder;
        if (!root.empty() && !fsys::IsDir(root)) {
            // Parts of the way may be unreadable or a drive or share root: only the end counts.
            std::string full = root + fsys::Separator();
            for (size_t i = 1; i < full.size(); ++i)
                if (IsSep(full[i]) && !IsSep(full[i - 1])) fsys::MakeDir(full.substr(0, i));
            if (!fsys::IsDir(root)) return Error(kOutputLimit, "cannot create the folder " + job_.Folder);
        }
        size_t rootLen = OutputPath(root, "", true).size();
        uint64_t written = 0;
        for (const Member* m : chosen_) {
            Count(*m);
            if (m->Directory() && !job_.KeepPaths) continue;
            std::string path = OutputPath(root, m->Name, job_.KeepPaths);
            if (!MakeParents(path, rootLen)) return Error(kOutputLimit, "cannot create the folders of " + path);
            if (m->Directory()) {
                if (!fsys::MakeDir(path)) return Error(kOutputLimit, "cannot create the folder " + path);
                Say(0, "   creating: " + path);
                continue;
            }
            if (!job_.Overwrite && fsys::Exists(path) && !(job_.Replace && job_.Replace(path))) {
                Say(0, "   skipping: " + path);
                continue;
            }
            fsys::OutputFile out;
            if (!out.Create(path)) return Error(kOutputLimit, "cannot create " + path);
            int r = zip_.Read(*m, [&](const uint8_t* data, size_t n) {
                written += n;
                return written <= job_.MaxTotal && out.Write(data, n);
            });
            if (r != kOk) {
                out.Discard();
                return Error(r, zip_.Error());
            }
            if (!out.Close()) return Error(kOutputLimit, "cannot write " + path);
            Say(0, std::string(m->Method == kStored ? " extracting: " : "  inflating: ") + path);
        }
        return kOk;
    }

    const Job& job_;
    Totals* totals_;
    ZipReader zip_;
    std::vector<const Member*> chosen_;
};

}  // namespace

std::string OutputPath(const std::string& folder, const std::string& name, bool keepPaths) {
    std::string rel = name;
    if (!keepPaths) {
        size_t cut = rel.find_last_of("/\\");
        if (cut != std::string::npos) rel = rel.substr(cut + 1);
    }
    for (char& c : rel)
        if (IsSep(c)) c = fsys::Separator();
    if (folder.empty()) return rel;
    if (IsSep(folder.back())) return folder + rel;
    return folder + fsys::Separator() + rel;
}

bool Matches(const std::string& pattern, const std::string& name, bool ignoreCase) {
    auto same = [&](char a, char b) {
        if (ignoreCase) return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        return a == b;
    };
    // Iterative match with one back-tracking point per '*'.
    size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

int Run(Source& archive, const Job& job, Totals* totals) {
    try {
        Run_ run(archive, job, totals);
        return run.Go();
    } catch (const std::bad_alloc&) {
        if (job.Text && job.Quiet < 2) job.Text("error: out of memory\n");
        return kNoMemory;
    }
}

int Run(const Job& job, Totals* totals) {
    fsys::InputFile in;
    if (!in.Open(job.Archive)) {
        if (job.Text && job.Quiet < 2) job.Text("error: cannot open " + job.Archive + "\n");
        return kNotZip;
    }
    return Run(in, job, totals);
}

}  // namespace zipr
