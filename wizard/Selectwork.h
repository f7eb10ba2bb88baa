// The update-method page: the first page and the main window.
#pragma once
#include <string>

#include "Dialogs.h"
#include "PageFrame.h"

class TSelectWork : public TWizardPage {
public:
    explicit TSelectWork(TComponent* owner);

    TComboBox* SelectAction;  // the page's main list
    TImageList* IconList;
    TOpenDialog* OpenBios;

    int UpdateMethod = 1;  // 0 from a file, 1 from the Internet, 2 download
    std::string AppPath;   // the program's folder, with a trailing backslash
    std::string TempPath;  // the run's work folder, with a trailing backslash (WorkFolder.h)

    void NextBtnClick(TObject* Sender);
    void CancelBtnClick(TObject* Sender);
    void SelectActionDrawItem(TObject* Sender, int Index, const RECT& Rect, UINT State, TCanvas& Canvas);
    void OpenBiosCanClose(TObject* Sender, bool& CanClose);
    void OpenBiosClose(TObject* Sender);
    void FormShow(TObject* Sender);
};

extern TSelectWork* SelectWork;

// The three methods, in list order.
extern const char* const kUpdateMethods[3];
