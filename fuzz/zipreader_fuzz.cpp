// Fuzz target: the zip reader and the unpacker's checks over one archive in
// memory, listing and testing every member (nothing is written to disk).
#include <cstddef>
#include <cstdint>
#include <string>

#include "Unzip.h"
#include "ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zipr::MemorySource src(data, size);
    {
        zipr::ZipReader zip(src);
        if (zip.Open() == zipr::kOk) {
            for (const zipr::Member& m : zip.Members()) {
                (void)zipr::SafeName(m.Name);
                (void)zipr::MethodName(m);
            }
        }
    }
    zipr::Job job;
    job.Archive = "fuzz.zip";
    job.Folder = "unused";
    job.MaxTotal = 64u << 20;
    std::string text;
    job.Text = [&](const std::string& t) { text += t; };
    size_t listed = 0;
    job.OnMember = [&](const zipr::Member& m) { listed += m.Name.size(); };
    job.Action = zipr::Mode::List;
    (void)zipr::Run(src, job);
    job.Action = zipr::Mode::Test;
    (void)zipr::Run(src, job);
    return 0;
}
