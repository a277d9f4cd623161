// The main window: the MDI frame with its tool bar, dock bar of tool windows, status bar with the
// window panel, menus and keyboard, the start-up message, the hand-over of later starts and the
// display of the interface thread's exceptions.
#pragma once

#include <array>
#include <map>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "AdvBars.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "Menus.h"
#include "TaskStatusBar.h"

class TDocumentForm;

// Messages the main window posts to itself.
constexpr UINT WM_STARTUP = WM_USER + 14;       // start-up work
constexpr UINT WM_SHOWEXCEPTION = WM_USER + 15; // LParam: heap copy of the text (new char[])

// Status bar modes.
constexpr uint8_t smDocument = 0, smHint = 1, smProgress = 2;

// An exception message as the main window shows it: trailing dots collapsed to one, and one
// added where there was none.
std::string ExceptionMessageText(const std::string &Message);

// Wallpaper modes.
constexpr uint8_t wmOff = 0, wmTile = 1, wmCentre = 2;

// The bitmap of a wallpaper file, or none when it cannot be loaded (no failure is reported).
// Loads .bmp files as they are; MatchColors is taken but the colours are not matched yet.
std::unique_ptr<TBitmap> LoadWallpaperBitmap(const std::string &FileName, bool MatchColors);

// What the main window does with an exception of the interface thread.
enum class TExceptionRoute { Silent, CrashReport, MessageBox };
TExceptionRoute ExceptionRoute(std::exception_ptr E);

class TMainForm : public TForm {
public:
    DECLARE_CLASS_NAME(TMainForm)
    explicit TMainForm(TComponent *AOwner);
    ~TMainForm() override;

    TTaskStatusBar *StatusBar;
    TAdvToolBar *ToolBar;
    TAdvDockBar *DockBar;
    TMainMenu *MainMenu;
    TPopupMenu *BarMenu;
    TTimer *MinimizedTimer;
    std::array<TSpeedButton *, 4> ToolButtons{}; // New Fractal, Open, Browse, Help

    TMenuItem *FileMenu, *NewItem, *NewFractalItem, *NewGradientItem, *NewTransformationItem, *NewFormulaItem,
        *NewColoringItem, *OpenItem, *BrowseItem, *ExitItem;
    TMenuItem *OptionsMenu, *ToolbarItem, *ToolWindowsItem, *StatusBarItem, *WindowPanelItem, *ShowHintsItem,
        *UpdateFormulasItem, *OptionsItem;
    TMenuItem *WindowMenu, *CascadeItem, *TileHorizontalItem, *TileVerticalItem, *MinimizeAllItem,
        *UndoMinimizeAllItem, *ArrangeIconsItem, *WindowToolsItem;
    TMenuItem *HelpMenu, *HelpItem, *ContentsItem, *IndexItem, *TopicSearchItem, *WhatsNewItem,
        *TutorialsItem, *WorkspaceItem, *KeyboardItem, *SupportItem, *AboutItem;
    std::array<TMenuItem *, 8> WindowToolItems{};
    std::array<TMenuItem *, 8> BarToolItems{};
    TMenuItem *BarToolWindowsItem;

    bool MainMinimized = false;
    std::string SavedTitle;
    uint8_t StatusMode = smDocument;

    // Shows the window in the state its placement asks for (maximised unless one is stored).
    void ShowMainWindow();
    void UpdateStatusBar();
    TStatusBar *GetDocumentStatusBar(TDocumentForm *Document);
    void ShowProgress(TObject *Sender, int Kind, const std::string &Text, int Percent);
    int ProgressPercent() const { return FProgressPercent; }
    int ProgressBlocks() const { return FProgressBlocks; }
    void UpdateApplicationTitle();
    void ApplyGeneralOptions();
    void UpdateWindowMenu();
    void UpdateDocumentToolBar();
    void SetDefaultToolLayout();
    // Shows the dock bar's tool window of that class (unrolling a rolled-up dock bar for a
    // docked one).
    void ShowToolWindow(const TToolFormClass &FormClass);
    // The handler of a later start's hand-over (files already without switches).
    void AppMessage(const std::vector<std::string> &FileNames);
    void AppException(TObject *Sender, std::exception_ptr E);
    // The crash library's handler: ordinary exceptions become the message box above, heap,
    // processor and list errors get the crash report with a request for the steps to reproduce.
    void CrashException(bool Frozen, std::exception_ptr E, void *Address, DWORD ThreadId,
                        std::string &BugReport, std::string &Screenshot, bool &CanContinue, bool &Handled);
    void FormShortCut(WORD Key, TShiftState Shift, bool &Handled);
    bool HandleEditShortCut(WORD Key, TShiftState Shift);
    bool HandleFocusKey(WORD Key, TShiftState Shift);
    bool FocusWindow(TWinControl *Window);

    void ToolItemClick(TObject *Sender);
    void ToolWindowsItemClick(TObject *Sender);
    void ToolbarItemClick(TObject *Sender);
    void StatusBarItemClick(TObject *Sender);
    void WindowPanelItemClick(TObject *Sender);
    void ShowHintsItemClick(TObject *Sender);
    void OpenItemClick(TObject *Sender);
    void ExitItemClick(TObject *Sender);
    void CascadeItemClick(TObject *Sender);
    void TileHorizontalItemClick(TObject *Sender);
    void TileVerticalItemClick(TObject *Sender);
    void MinimizeAllItemClick(TObject *Sender);
    void UndoMinimizeAllItemClick(TObject *Sender);
    void ArrangeIconsItemClick(TObject *Sender);
    void HelpItemClick(TObject *Sender);
    void ContentsItemClick(TObject *Sender);
    void IndexItemClick(TObject *Sender);
    void HelpPageItemClick(TObject *Sender);
    void UpdateFormulasItemClick(TObject *Sender);
    void TopicSearchItemClick(TObject *Sender);
    void AboutItemClick(TObject *Sender);
    void DockBarChange(TObject *Sender);
    void DockBarPopup(TObject *Sender, int X, int Y);
    void ToolBarRollChange(TObject *Sender);

    // The wallpaper behind the documents: each setter reloads it when its value changes.
    void SetWallpaperFile(const std::string &Value);
    void SetWallpaperColors(uint8_t Value);
    void SetWallpaperMode(uint8_t Value);
    void LoadWallpaper();
    TBitmap *Wallpaper() const { return FWallpaper.get(); }

    void WndProc(TMessage &Message) override;
    void ClientWndProc(TMessage &Message) override;

protected:
    void AlignControls(TControl *AControl, RECT &Rect) override {}
    void Resize() override;
    void DoClose(TCloseAction &Action) override;

private:
    // The help page each page item of the Help menu opens.
    std::map<TObject *, std::string> FHelpPages;
    void CreateMenus();
    void CreateToolBar();
    void LoadMenuImages();
    void WMStartup();
    void WMShowException(char *Text);
    // Error texts waiting for their box: boxes show one after another, never stacked.
    std::vector<std::string> FPendingErrors;
    bool FShowingErrors = false;
    void AppHint(TObject *Sender);
    void ActiveFormChange(TObject *Sender);
    void StatusBarDrawPanel(TStatusBar *Sender, int Panel, RECT Rect);
    void MinimizedTimerTick(TObject *Sender);
    void ConfigurationChanged(TObject *Sender);
    void FileHistoryChanged(TObject *Sender);
    void FilesDropped(TObject *Sender, const std::vector<std::string> &FileNames);
    void ChildResize(TObject *Sender);
    void LayOut(bool OwnResize);
    bool ClientEraseBackground(HDC DC);
    void PassToChildren(UINT Msg, WPARAM WParam, LPARAM LParam);
    LRESULT QueryChildrenPalette();
    bool DialogCharToFocusedForm(TMessage &Message);
    void OpenFiles(const std::vector<std::string> &FileNames);
    bool UpdateToolItem(int Index);
    TDocumentForm *ActiveDocument();
    void SaveLayout();

    bool FClosing = false;
    TCustomForm *FLastActiveChild = nullptr;
    TWinControl *FDocumentToolBar = nullptr;
    bool FFirstResize = false;
    int FProgressPercent = 0;
    int FProgressBlocks = 0;
    bool FReady = false;
    int FPlacementState = 2; // maximised until a stored placement says otherwise
    bool FLayoutSaved = false;
    bool FDockBarRolledUpRemembered = false;
    std::vector<std::unique_ptr<TBitmap>> FMenuImages;
    std::string FMainCaption;
    std::string FWallpaperFile;
    std::unique_ptr<TBitmap> FWallpaper;
    uint8_t FWallpaperColors = 0;
    uint8_t FWallpaperMode = wmOff;
};

// The one main window while it exists.
extern TMainForm *MainForm;
