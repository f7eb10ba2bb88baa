// Version-index reader, and the inspector's lint and JSON on the same input.
#include <vector>

#include "FuzzInput.h"
#include "IndexInspect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FuzzInput in = SplitFuzzInput(data, size);
    const std::string model = in.Name.empty() ? std::string("MODEL-A1") : in.Name;

    NoMessages messages;
    TVersionEntries list;
    list.Add("stale", std::make_unique<VersionInfo>());
    std::unique_ptr<VersionInfo> current;
    TIndexContext ctx{model, current, messages, list};
    {
        TIndexFile file;
        if (!OpenFuzzFile(file, in.File)) return 0;
        const bool listed = ParseVersionIndex(ctx, file);
        FUZZ_CHECK(listed == !list.Items.empty());
        FUZZ_CHECK(!current);
    }
    for (const auto& item : list.Items) {
        const VersionInfo& e = *item.Entry;
        FUZZ_CHECK(item.Text == e.VersionText);
        FUZZ_CHECK(e.VersionText.compare(0, 8, "Version ") == 0);
        FUZZ_CHECK(e.VersionText.find('\n') == std::string::npos);
        FUZZ_CHECK(IsTrimmedText(e.FilePath) && IsOneLine(e.FilePath));
        FUZZ_CHECK(IsOneLine(e.ReleaseDate));
        FUZZ_CHECK(IsTrimmedText(e.Sha256) && IsOneLine(e.Sha256));
        if (e.DescLines) {
            FUZZ_CHECK(e.DescLines->Count() >= 1);
            for (int i = 0; i < e.DescLines->Count(); ++i) FUZZ_CHECK(IsOneLine((*e.DescLines)[i]));
        }
    }
    const std::string json = VersionsJson(list);
    for (char c : json) FUZZ_CHECK(c == '\n' || (c >= 0x20 && c < 0x7F));

    // Lint for the board and for every board; warnings come in line order.
    for (int pass = 0; pass < 2; ++pass) {
        TIndexFile file;
        if (!OpenFuzzFile(file, in.File)) return 0;
        std::vector<TIndexWarning> warnings;
        LintVersionIndex(file, pass == 0 ? &model : nullptr, warnings);
        for (size_t i = 0; i < warnings.size(); ++i) {
            FUZZ_CHECK(warnings[i].Line >= 1);
            FUZZ_CHECK(i == 0 || warnings[i - 1].Line <= warnings[i].Line);
        }
    }
    return 0;
}
