// Listing parsers: any bytes as listing lines, for every server kind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "FtpList.h"
#include "FuzzCheck.h"


namespace {

const int32_t kKinds[] = {VendorUnix, VendorDos,   VendorVm,    VendorMacOs,   VendorVms,
                          VendorMvs,  VendorOther, VendorAs400, VendorNetware, NoVendor};

// The columns the splitter must find: the runs of non-space characters, with
// an empty first column for a leading space and an empty last one for a
// trailing space.
int ExpectedColumns(const std::string& line) {
    int n = 1;
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] == ' ' && (i == 0 || line[i - 1] != ' ')) ++n;
    return n;
}

bool HasSpace(const std::string& s) { return s.find(' ') != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int32_t vendor = kKinds[data[0] % (sizeof kKinds / sizeof kKinds[0])];
    std::unique_ptr<TFTPDirectoryList> list(vendor == NoVendor ? new TFTPDirectoryList : NewDirectoryList(vendor));
    FUZZ_CHECK(list);

    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    int lines = 0;
    size_t from = 0;
    while (from < text.size()) {
        size_t lf = text.find('\n', from);
        const size_t end = lf == std::string::npos ? text.size() : lf + 1;
        const std::string raw = text.substr(from, end - from);
        from = end;
        const std::string line = ListingLineText(raw);
        FUZZ_CHECK(line.size() <= raw.size() && raw.compare(0, line.size(), line) == 0);
        ++lines;

        const int before = list->Names->Count();
        list->ParseLine(line);
        FUZZ_CHECK(list->ColumnCount() == ExpectedColumns(line));
        for (int k = 0; k <= list->ColumnCount() + 1; ++k) {
            const std::string& c = list->Column(k);
            FUZZ_CHECK(c.size() <= TFTPDirectoryList::MaxColumnText);
            FUZZ_CHECK(!HasSpace(c));
            FUZZ_CHECK(line.find(c) != std::string::npos);
        }
        const int after = list->Names->Count();
        FUZZ_CHECK(after == before || after == before + 1);
        if (after > before) {
            FUZZ_CHECK(!HasSpace((*list->Names)[after - 1]) && !HasSpace((*list->Attributes)[after - 1]));
            FUZZ_CHECK((*list->Names)[after - 1].size() <= TFTPDirectoryList::MaxColumnText);
        }
    }
    const int n = list->Names->Count();
    FUZZ_CHECK(n <= lines);
    FUZZ_CHECK(list->Attributes->Count() == n && list->Sizes->Count() == n && list->Dates->Count() == n);
    if (vendor == NoVendor) FUZZ_CHECK(n == 0);
    list->Clear();
    FUZZ_CHECK(list->Names->Count() == 0 && list->Dates->Count() == 0);
    return 0;
}
