#include "WorkFolder.h"

#include <cstring>
#include <vector>

TWorkFolder* RunWorkFolder = nullptr;

namespace {
const char kPrefix[] = "NorvUpdate-";
constexpr size_t kHexDigits = 16;
const char kLockName[] = "in-use.lock";
constexpr int kNameTries = 16;

bool RandomBytes(void* buf, ULONG size) {
    // RtlGenRandom: the system's random source, without a crypto provider.
    using TRtlGenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
    static const TRtlGenRandom gen = [] {
        HMODULE advapi = GetModuleHandleA("advapi32.dll");
        return advapi ? reinterpret_cast<TRtlGenRandom>(
                            reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")))
                      : nullptr;
    }();
    return gen && gen(buf, size);
}

bool IsWorkFolderName(const char* name) {
    const size_t prefix = sizeof(kPrefix) - 1;
    if (std::strlen(name) != prefix + kHexDigits || _strnicmp(name, kPrefix, prefix) != 0) return false;
    for (const char* p = name + prefix; *p; ++p)
        if (!std::strchr("0123456789abcdefABCDEF", *p)) return false;
    return true;
}

// The security of the folder: a protected DACL (nothing inherited from the
// temporary folder) that lets the user and the administrators in, inherited
// by everything created inside.
class TPrivateSecurity {
public:
    TPrivateSecurity() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.resize(size);
        const bool gotUser = size && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
        CloseHandle(token);
        if (!gotUser) return;
        PSID userSid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                      &admins_))
            return;
        const DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                              GetLengthSid(userSid) + GetLengthSid(admins_);
        acl_.resize(aclSize);
        PACL acl = reinterpret_cast<PACL>(acl_.data());
        const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
            !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, userSid) ||
            !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, admins_) ||
            !InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&sd_, TRUE, acl, FALSE) ||
            !SetSecurityDescriptorControl(&sd_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return;
        attributes_.nLength = sizeof(attributes_);
        attributes_.lpSecurityDescriptor = &sd_;
        attributes_.bInheritHandle = FALSE;
        ok_ = true;
    }
    ~TPrivateSecurity() {
        if (admins_) FreeSid(admins_);
    }
    TPrivateSecurity(const TPrivateSecurity&) = delete;
    TPrivateSecurity& operator=(const TPrivateSecurity&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return ok_ ? &attributes_ : nullptr; }

private:
    std::vector<BYTE> user_, acl_;
    PSID admins_ = nullptr;
    SECURITY_DESCRIPTOR sd_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool ok_ = false;
};

void RemoveEntry(const std::string& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A link to a folder goes as a link; only a real folder is entered.
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) RemoveFolderTree(path);
        RemoveDirectoryA(path.c_str());
    } else {
        DeleteFileA(path.c_str());
    }
}

// Calls each(name, attributes) for the entries of folder (with a trailing backslash).
template <typename F>
void ForEachEntry(const std::string& folder, F each) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
        each(data.cFileName, data.dwFileAttributes);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

std::string WithSlash(const std::string& path) {
    return !path.empty() && path.back() != '\\' ? path + "\\" : path;
}
}  // namespace

std::string SystemTempFolder() {
    char temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathA(sizeof(temp), temp);
    if (n == 0 || n >= sizeof(temp)) return std::string();
    return WithSlash(std::string(temp, n));
}

void RemoveFolderTree(const std::string& path) {
    const std::string folder = WithSlash(path);
    if (folder.empty()) return;
    ForEachEntry(folder, [&](const char* name, DWORD attributes) { RemoveEntry(folder + name, attributes); });
    RemoveDirectoryA(folder.c_str());
}

bool TWorkFolder::Create(const std::string& parent) {
    Remove();
    if (parent.empty()) return false;
    TPrivateSecurity security;
    if (!security.Attributes()) return false;
    static const char hex[] = "0123456789abcdef";
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        unsigned char random[kHexDigits / 2];
        if (!RandomBytes(random, sizeof(random))) return false;
        std::string folder = WithSlash(parent) + kPrefix;
        for (unsigned char b : random) {
            folder += hex[b >> 4];
            folder += hex[b & 15];
        }
        // Fails when anything of that name exists: a folder is never shared.
        if (!CreateDirectoryA(folder.c_str(), security.Attributes())) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return false;
        }
        folder += '\\';
        // The lock, written at once: until it exists another run's start-up
        // may take the folder for abandoned, so a lock that cannot be made
        // (the folder went) means another name.
        lock_ = CreateFileA((folder + kLockName).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lock_ == INVALID_HANDLE_VALUE) {
            RemoveDirectoryA(folder.c_str());
            continue;
        }
        path_ = folder;
        return true;
    }
    return false;
}

void TWorkFolder::Empty() {
    if (path_.empty()) return;
    ForEachEntry(path_, [&](const char* name, DWORD attributes) {
        if (lstrcmpiA(name, kLockName) != 0) RemoveEntry(path_ + name, attributes);
    });
}

void TWorkFolder::Remove() {
    if (path_.empty()) return;
    Empty();
    if (lock_ != INVALID_HANDLE_VALUE) CloseHandle(lock_);
    lock_ = INVALID_HANDLE_VALUE;
    DeleteFileA((path_ + kLockName).c_str());
    RemoveDirectoryA(path_.c_str());
    path_.clear();
}

void RemoveAbandonedWorkFolders(const std::string& parent) {
    const std::string temp = WithSlash(parent);
    if (temp.empty()) return;
    ForEachEntry(temp, [&](const char* name, DWORD attributes) {
        // Only real folders of our name: a link of that name is left alone.
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !IsWorkFolderName(name))
            return;
        const std::string folder = temp + name + "\\";
        // A held lock cannot be deleted: that run is still going.
        if (!DeleteFileA((folder + kLockName).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return;
        RemoveFolderTree(folder);
    });
}
