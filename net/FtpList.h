// Directory listings of the FTP client: the server system kinds (as SYST
// names them), the line splitter and the listing parsers that turn the lines
// of a LIST into names, sizes, dates and attributes. Portable: no Win32 here,
// so the native build tests and fuzzes it directly.
#pragma once
#include <cstdint>
#include <string>

#include "Classes.h"

// Server system kinds, the values of the FTP client's Vendor.
enum : int32_t {
    VendorUnix = 2400,
    VendorDos = 2401,
    VendorVm = 2402,
    VendorMacOs = 2404,
    VendorVms = 2406,
    VendorMvs = 2408,
    VendorOther = 2410,
    NoVendor = 2411,  // not yet known: ask the server with SYST
    VendorAs400 = 2414,
    VendorNetware = 2416,
};

// The kind a SYST reply names: the first of UNIX, NETWARE, DOS, VMS, MVS, VM,
// MACOS, OS/400 found in it (case-sensitive, in that order); VendorOther when
// none is.
int32_t VendorFromSyst(const std::string& reply);

// A listing line as it is delivered: the line end removed from a line longer
// than two characters (CR LF when the second-last character is a CR, else
// the last character, the line feed). A two-character line ("\r\n") and a
// last line that came without a line feed are delivered as they are.
std::string ListingLineText(const std::string& line);

// The lists of one parsed listing and the column splitter; the parsers of
// the server kinds derive from it. One entry per accepted line in each of the
// four lists, in the order the lines came.
class TFTPDirectoryList : public TObject {
public:
    static constexpr int MaxColumns = 25;
    static constexpr size_t MaxColumnText = 255;

    TFTPDirectoryList();
    ~TFTPDirectoryList() override;

    TStringList* Attributes;  // the first column
    TStringList* Names;
    TStringList* Sizes;
    TStringList* Dates;

    void Clear();

    // The base split only: columns separated by runs of spaces. A leading
    // space gives an empty first column, a trailing one an empty last column.
    // The parsers split and then take their columns.
    virtual void ParseLine(const std::string& line);

    // The column count of the line last split.
    int32_t ColumnCount() const { return columnCount_; }
    // Column k (1-based) of that line; empty beyond the count. A column keeps
    // at most MaxColumnText characters; the column area holds MaxColumns, and
    // of a line with more columns the first and the last MaxColumns - 1 are
    // kept (the parsers count from the end), the ones between read as empty.
    const std::string& Column(int k) const;

protected:
    // Adds one entry to each list.
    void AddEntry(const std::string& attributes, const std::string& name, const std::string& size,
                  const std::string& date);
    // Columns a, b and c joined by single spaces.
    std::string Joined(int a, int b, int c) const;

private:
    std::string& Slot(int k);

    std::string first_;                 // column 1
    std::string columns_[MaxColumns];   // columns 2.., the most recent MaxColumns - 1 of them
    int32_t columnCount_ = 0;
};

// UNIX long listings (ls -l): name last, size four columns before it, the
// three date columns between. Lines of seven columns or fewer ("total 12")
// are skipped. A name with spaces keeps its last word.
class TFTPUnixList : public TFTPDirectoryList {
public:
    void ParseLine(const std::string& line) override;
};

// Any other system: read as UNIX.
class TFTPOTHERList : public TFTPUnixList {};

// The systems whose lines carry one column after the name: name n-1, size
// n-5, date n-4..n-2.
class TFTPTrailingColumnList : public TFTPDirectoryList {
public:
    void ParseLine(const std::string& line) override;
};
class TFTPNETWAREList : public TFTPTrailingColumnList {};
class TFTPDOSList : public TFTPTrailingColumnList {};
class TFTPVMSList : public TFTPTrailingColumnList {};
class TFTPMVSList : public TFTPTrailingColumnList {};
class TFTPVMList : public TFTPTrailingColumnList {};
class TFTPMACOSList : public TFTPTrailingColumnList {};

// OS/400: lines of three columns or fewer are skipped; the name is the last
// column when it starts with "*" (an object type), else the one before it.
// Sizes and dates are not read: their entries stay empty.
class TFTPAS400List : public TFTPDirectoryList {
public:
    void ParseLine(const std::string& line) override;
};

// A new parser for a server kind; nullptr for a value that names none.
TFTPDirectoryList* NewDirectoryList(int32_t vendor);
