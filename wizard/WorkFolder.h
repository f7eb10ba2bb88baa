// The run's private work folder.
//
// Everything the wizard downloads or unpacks goes into one folder below the
// user's temporary folder, made for this run alone: a random name
// ("NorvUpdate-" and 16 hex digits), created only if no such folder exists,
// open to the user and the administrators only. A lock file inside it, held
// open without delete sharing, says that a run uses it. The run removes the
// folder at its end; a later run removes the folders of runs that ended
// without doing so (killed, power cut), whose lock nobody holds any more.
#pragma once
#include <windows.h>

#include <string>

class TWorkFolder {
public:
    TWorkFolder() = default;
    TWorkFolder(const TWorkFolder&) = delete;
    TWorkFolder& operator=(const TWorkFolder&) = delete;
    ~TWorkFolder() { Remove(); }

    // Makes a new folder below parent (ending with a backslash). False when
    // none could be made; Path() is then empty.
    bool Create(const std::string& parent);
    // The folder with a trailing backslash, or empty.
    const std::string& Path() const { return path_; }
    // Removes everything in the folder but the lock.
    void Empty();
    // Removes the folder and everything in it.
    void Remove();

private:
    std::string path_;
    HANDLE lock_ = INVALID_HANDLE_VALUE;
};

// The run's folder (set up by the program's entry); nullptr when there is none.
extern TWorkFolder* RunWorkFolder;

// The user's temporary folder as the system reports it, with a trailing
// backslash; empty when the system gives none.
std::string SystemTempFolder();

// Removes the work folders below parent that no running wizard holds.
void RemoveAbandonedWorkFolders(const std::string& parent);

// Removes path (a folder, with a trailing backslash or not) and everything
// below it. Links inside are removed as links: nothing outside is touched.
void RemoveFolderTree(const std::string& path);
