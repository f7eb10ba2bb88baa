// Server kinds from SYST replies, listing line ends, the column splitter and
// the listing parsers on sample lines of each server kind.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "FtpList.h"

namespace {

struct Entry {
    std::string attributes, name, size, date;
    bool operator==(const Entry& o) const {
        return attributes == o.attributes && name == o.name && size == o.size && date == o.date;
    }
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << "{" << e.attributes << " | " << e.name << " | " << e.size << " | " << e.date << "}";
}

// Parses the lines with the parser of the kind and returns what the lists hold.
std::vector<Entry> Parse(int32_t vendor, const std::vector<std::string>& lines) {
    std::unique_ptr<TFTPDirectoryList> list(NewDirectoryList(vendor));
    EXPECT_TRUE(list);
    if (!list) return {};
    for (const auto& l : lines) list->ParseLine(l);
    const int n = list->Names->Count();
    EXPECT_EQ(list->Attributes->Count(), n);
    EXPECT_EQ(list->Sizes->Count(), n);
    EXPECT_EQ(list->Dates->Count(), n);
    std::vector<Entry> out;
    for (int i = 0; i < n; ++i)
        out.push_back({(*list->Attributes)[i], (*list->Names)[i], (*list->Sizes)[i], (*list->Dates)[i]});
    return out;
}

TEST(FtpList, SystRepliesNameTheKindInTheFixedOrder) {
    EXPECT_EQ(VendorFromSyst("215 UNIX Type: L8\r\n"), VendorUnix);
    EXPECT_EQ(VendorFromSyst("215 NETWARE Type: L8\r\n"), VendorNetware);
    EXPECT_EQ(VendorFromSyst("215 MS-DOS\r\n"), VendorDos);
    EXPECT_EQ(VendorFromSyst("215 VMS V7.3\r\n"), VendorVms);  // not VM, although it contains it
    EXPECT_EQ(VendorFromSyst("215 MVS is the operating system of this server.\r\n"), VendorMvs);
    EXPECT_EQ(VendorFromSyst("215 VM/ESA\r\n"), VendorVm);
    EXPECT_EQ(VendorFromSyst("215 MACOS Peter's Server\r\n"), VendorMacOs);
    EXPECT_EQ(VendorFromSyst("215 OS/400 is the remote operating system.\r\n"), VendorAs400);
    // The earlier name of the order wins wherever it stands in the reply.
    EXPECT_EQ(VendorFromSyst("215 DOS emulation on UNIX\r\n"), VendorUnix);
    // Case matters, and a reply without a known name is "any other".
    EXPECT_EQ(VendorFromSyst("215 unix\r\n"), VendorOther);
    EXPECT_EQ(VendorFromSyst("215 Windows_NT\r\n"), VendorOther);
    EXPECT_EQ(VendorFromSyst("502 Command not implemented.\r\n"), VendorOther);
}

TEST(FtpList, EveryKindHasItsParserAndOtherValuesNone) {
    const struct {
        int32_t vendor;
        const std::type_info& type;
    } kinds[] = {
        {VendorUnix, typeid(TFTPUnixList)},         {VendorDos, typeid(TFTPDOSList)},
        {VendorVm, typeid(TFTPVMList)},             {VendorMacOs, typeid(TFTPMACOSList)},
        {VendorVms, typeid(TFTPVMSList)},           {VendorMvs, typeid(TFTPMVSList)},
        {VendorOther, typeid(TFTPOTHERList)},       {VendorAs400, typeid(TFTPAS400List)},
        {VendorNetware, typeid(TFTPNETWAREList)},
    };
    for (const auto& k : kinds) {
        std::unique_ptr<TFTPDirectoryList> list(NewDirectoryList(k.vendor));
        ASSERT_TRUE(list) << k.vendor;
        EXPECT_EQ(typeid(*list), k.type) << k.vendor;
    }
    EXPECT_EQ(NewDirectoryList(NoVendor), nullptr);
    EXPECT_EQ(NewDirectoryList(2403), nullptr);
    EXPECT_EQ(NewDirectoryList(0), nullptr);
}

TEST(FtpList, LineEndsAreRemovedOnlyFromLinesLongerThanTwo) {
    EXPECT_EQ(ListingLineText("file.zip\r\n"), "file.zip");
    EXPECT_EQ(ListingLineText("file.zip\n"), "file.zip");
    EXPECT_EQ(ListingLineText("a\r\n"), "a");
    EXPECT_EQ(ListingLineText("\r\n"), "\r\n");
    // A last line that came without a line feed keeps all its characters.
    EXPECT_EQ(ListingLineText("last.zip"), "last.zip");
    EXPECT_EQ(ListingLineText("last.zi\r"), "last.zi\r");
    EXPECT_EQ(ListingLineText(""), "");
}

TEST(FtpList, SplitterSeparatesColumnsAtRunsOfSpaces) {
    TFTPDirectoryList list;
    list.ParseLine("a  bb   ccc");
    EXPECT_EQ(list.ColumnCount(), 3);
    EXPECT_EQ(list.Column(1), "a");
    EXPECT_EQ(list.Column(2), "bb");
    EXPECT_EQ(list.Column(3), "ccc");
    EXPECT_EQ(list.Column(4), "");
    EXPECT_EQ(list.Column(0), "");

    // A leading space ends an empty first column; a trailing one starts an
    // empty last column. Nothing of the previous line remains.
    list.ParseLine("  x y ");
    EXPECT_EQ(list.ColumnCount(), 4);
    EXPECT_EQ(list.Column(1), "");
    EXPECT_EQ(list.Column(2), "x");
    EXPECT_EQ(list.Column(3), "y");
    EXPECT_EQ(list.Column(4), "");

    list.ParseLine("");
    EXPECT_EQ(list.ColumnCount(), 1);
    EXPECT_EQ(list.Column(1), "");
    // The base class only splits.
    EXPECT_EQ(list.Names->Count(), 0);
}

TEST(FtpList, ColumnAreaIsBoundedAndKeepsTheLastColumns) {
    TFTPDirectoryList list;
    list.ParseLine(std::string(300, 'n') + " short");
    EXPECT_EQ(list.Column(1), std::string(255, 'n'));
    EXPECT_EQ(list.Column(2), "short");

    // 40 columns: the first and the last 24 are there, those between empty.
    std::string line;
    for (int k = 1; k <= 40; ++k) line += (k > 1 ? " c" : "c") + std::to_string(k);
    list.ParseLine(line);
    EXPECT_EQ(list.ColumnCount(), 40);
    EXPECT_EQ(list.Column(1), "c1");
    EXPECT_EQ(list.Column(16), "");
    EXPECT_EQ(list.Column(17), "c17");
    EXPECT_EQ(list.Column(40), "c40");

    // The parsers count from the end, so a name of many words still ends
    // the entry right.
    std::string words;
    for (int k = 0; k < 30; ++k) words += " w" + std::to_string(k);
    EXPECT_EQ(Parse(VendorUnix, {"-rw-r--r-- 1 ftp ftp 1024 Jan 5 12:00" + words}),
              (std::vector<Entry>{{"-rw-r--r--", "w29", "w25", "w26 w27 w28"}}));
}

TEST(FtpList, UnixLongListing) {
    const std::vector<std::string> lines = {
        "total 12",
        "-rw-r--r--    1 ftp      ftp          1024 Jan  5 12:00 file.zip",
        "drwxr-xr-x    2 ftp      ftp          4096 Dec 09  2025 sub",
        "-rw-r--r--    1 ftp      ftp             7 Mar 14 09:26 two words.txt",
        "",
    };
    const std::vector<Entry> want = {
        {"-rw-r--r--", "file.zip", "1024", "Jan 5 12:00"},
        {"drwxr-xr-x", "sub", "4096", "Dec 09 2025"},
        // A name with spaces keeps its last word; the columns shift with it.
        {"-rw-r--r--", "words.txt", "Mar", "14 09:26 two"},
    };
    EXPECT_EQ(Parse(VendorUnix, lines), want);
    // "Any other" reads lines the same way.
    EXPECT_EQ(Parse(VendorOther, lines), want);
    // Seven columns is not enough.
    EXPECT_TRUE(Parse(VendorUnix, {"-rw-r--r-- 1 ftp 1024 Jan 5 file.zip"}).empty());
}

TEST(FtpList, KindsWithAColumnAfterTheName) {
    // Lines whose name is followed by one more column (a version, a flag).
    const std::vector<std::string> lines = {
        "Total of 2 files",
        "- [RWCEAFMS] admin 52 3301 Jan 05 2026 readme.txt 1",
        "d [RWCEAFMS] admin 52 512 Dec 31 23:59 public <DIR>",
    };
    const std::vector<Entry> want = {
        {"-", "readme.txt", "3301", "Jan 05 2026"},
        {"d", "public", "512", "Dec 31 23:59"},
    };
    for (int32_t v : {VendorNetware, VendorDos, VendorVms, VendorMvs, VendorVm, VendorMacOs})
        EXPECT_EQ(Parse(v, lines), want) << v;
    // A short DOS-style line (date, time, size, name) has too few columns.
    EXPECT_TRUE(Parse(VendorDos, {"12-05-23  10:30AM       1024 file.zip"}).empty());
}

TEST(FtpList, As400NamesAndSkippedLines) {
    const std::vector<std::string> lines = {
        "QSYS           18944 02/03/06 11:46:44 *DIR       QOpenSys/",
        "QSYS            4096                   *MEM       QGPL/QCLSRC.FILE/SAVE.MBR",
        "QSYS  *FILE  LIBRARY",
        "QSYS 18432 04/15/23 10:22:01 *FILE",
    };
    const std::vector<Entry> want = {
        {"QSYS", "*DIR", "", ""},
        {"QSYS", "*MEM", "", ""},
        {"QSYS", "*FILE", "", ""},
    };
    EXPECT_EQ(Parse(VendorAs400, lines), want);
}

TEST(FtpList, ClearEmptiesTheListsForTheNextListing) {
    std::unique_ptr<TFTPDirectoryList> list(NewDirectoryList(VendorUnix));
    list->ParseLine("-rw-r--r-- 1 ftp ftp 1 Jan 5 12:00 a");
    list->ParseLine("-rw-r--r-- 1 ftp ftp 2 Jan 5 12:00 b");
    ASSERT_EQ(list->Names->Count(), 2);
    list->Clear();
    EXPECT_EQ(list->Names->Count() + list->Sizes->Count() + list->Dates->Count() + list->Attributes->Count(), 0);
    list->ParseLine("-rw-r--r-- 1 ftp ftp 3 Jan 5 12:00 c");
    ASSERT_EQ(list->Names->Count(), 1);
    EXPECT_EQ((*list->Names)[0], "c");
}

}  // namespace
