// Site-index look-up and the line reader under it.
#include <vector>

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FuzzInput in = SplitFuzzInput(data, size);

    // The lines put together again are the text as text mode reads it.
    {
        TIndexFile file;
        if (!OpenFuzzFile(file, in.File)) return 0;
        TIndexLineBuffer buffer;
        std::string joined;
        bool lastWasShort = false;
        while (auto line = ReadIndexLine(buffer, file)) {
            FUZZ_CHECK(!lastWasShort);  // only the last line may end without a line feed short of 255
            FUZZ_CHECK(!line->empty() && line->size() <= 255);
            FUZZ_CHECK(IsOneLine(*line));
            FUZZ_CHECK(buffer[line->size()] == '\0');
            lastWasShort = line->back() != '\n' && line->size() < 255;
            joined += *line;
        }
        FUZZ_CHECK(joined == TextModeBytes(in.File));
    }

    NoMessages messages;
    TVersionEntries list;
    std::unique_ptr<VersionInfo> current;
    TIndexContext ctx{"MODEL", current, messages, list};
    TIndexFile file;
    if (!OpenFuzzFile(file, in.File)) return 0;
    const bool found = FindIndexPath(ctx, file, in.Name);
    FUZZ_CHECK(current);
    FUZZ_CHECK(list.Items.empty());
    if (found) {
        FUZZ_CHECK(IsTrimmedText(current->FilePath));
        FUZZ_CHECK(current->FilePath.size() <= 255);
    } else {
        FUZZ_CHECK(current->FilePath.empty());
    }
    return 0;
}
