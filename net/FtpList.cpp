#include "FtpList.h"

int32_t VendorFromSyst(const std::string& reply) {
    static const struct {
        const char* name;
        int32_t vendor;
    } kinds[] = {
        {"UNIX", VendorUnix}, {"NETWARE", VendorNetware}, {"DOS", VendorDos},     {"VMS", VendorVms},
        {"MVS", VendorMvs},   {"VM", VendorVm},           {"MACOS", VendorMacOs}, {"OS/400", VendorAs400},
    };
    for (const auto& k : kinds)
        if (reply.find(k.name) != std::string::npos) return k.vendor;
    return VendorOther;
}

std::string ListingLineText(const std::string& line) {
    if (line.size() <= 2 || line.back() != '\n') return line;
    const size_t cut = line[line.size() - 2] == '\r' ? 2 : 1;
    return line.substr(0, line.size() - cut);
}

// ===========================================================================
// The column splitter

TFTPDirectoryList::TFTPDirectoryList()
    : Attributes(new TStringList), Names(new TStringList), Sizes(new TStringList), Dates(new TStringList) {}

TFTPDirectoryList::~TFTPDirectoryList() {
    delete Attributes;
    delete Names;
    delete Sizes;
    delete Dates;
}

void TFTPDirectoryList::Clear() {
    Attributes->Clear();
    Names->Clear();
    Sizes->Clear();
    Dates->Clear();
}

std::string& TFTPDirectoryList::Slot(int k) {
    // Column 1 has its own place; the others share a ring, so a line with
    // more columns than the area holds keeps its last ones.
    if (k == 1) return first_;
    return columns_[(k - 2) % (MaxColumns - 1)];
}

const std::string& TFTPDirectoryList::Column(int k) const {
    static const std::string empty;
    if (k < 1 || k > columnCount_) return empty;
    if (k == 1) return first_;
    if (columnCount_ - k >= MaxColumns - 1) return empty;  // overwritten by a later column
    return columns_[(k - 2) % (MaxColumns - 1)];
}

void TFTPDirectoryList::ParseLine(const std::string& line) {
    columnCount_ = 1;
    first_.clear();
    std::string* current = &first_;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ') {
            ++columnCount_;
            current = &Slot(columnCount_);
            current->clear();
            while (i < line.size() && line[i] == ' ') ++i;
            continue;
        }
        if (current->size() < MaxColumnText) current->push_back(c);
        ++i;
    }
}

void TFTPDirectoryList::AddEntry(const std::string& attributes, const std::string& name, const std::string& size,
                                 const std::string& date) {
    Attributes->Add(attributes);
    Names->Add(name);
    Sizes->Add(size);
    Dates->Add(date);
}

std::string TFTPDirectoryList::Joined(int a, int b, int c) const {
    return Column(a) + " " + Column(b) + " " + Column(c);
}

// ===========================================================================
// Parsers

void TFTPUnixList::ParseLine(const std::string& line) {
    TFTPDirectoryList::ParseLine(line);
    const int n = ColumnCount();
    if (n <= 7) return;
    AddEntry(Column(1), Column(n), Column(n - 4), Joined(n - 3, n - 2, n - 1));
}

void TFTPTrailingColumnList::ParseLine(const std::string& line) {
    TFTPDirectoryList::ParseLine(line);
    const int n = ColumnCount();
    if (n <= 7) return;
    AddEntry(Column(1), Column(n - 1), Column(n - 5), Joined(n - 4, n - 3, n - 2));
}

void TFTPAS400List::ParseLine(const std::string& line) {
    TFTPDirectoryList::ParseLine(line);
    const int n = ColumnCount();
    if (n <= 3) return;
    const std::string& last = Column(n);
    AddEntry(Column(1), !last.empty() && last[0] == '*' ? last : Column(n - 1), std::string(), std::string());
}

TFTPDirectoryList* NewDirectoryList(int32_t vendor) {
    switch (vendor) {
    case VendorUnix: return new TFTPUnixList;
    case VendorDos: return new TFTPDOSList;
    case VendorVm: return new TFTPVMList;
    case VendorMacOs: return new TFTPMACOSList;
    case VendorVms: return new TFTPVMSList;
    case VendorMvs: return new TFTPMVSList;
    case VendorOther: return new TFTPOTHERList;
    case VendorAs400: return new TFTPAS400List;
    case VendorNetware: return new TFTPNETWAREList;
    default: return nullptr;
    }
}
