#include "FormMain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "AdvCtrls.h"
#include "AdvDlgs.h"
#include "FormAbout.h"
#include "FileHistory.h"
#include "FormDocument.h"
#include "FormFractalStartup.h"
#include "FormWelcome.h"
#include "GenUpdateFormulas.h"
#include "HelpHandler.h"
#include "FracProgress.h"
#include "GenClasses.h"
#include "GenProgram.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "vexHandler.h"
#include "vexTypes.h"
#include "ShellInstance.h"
#include "ShellToolForms.h"
#include "StdCtrls.h"

TMainForm *MainForm = nullptr;

namespace {

constexpr const char *MainFormName = "MainForm";

// Menu group indices; a document window's menu replaces the groups it uses.
constexpr int FileGroup = 1, OptionsGroup = 5, WindowGroup = 6, HelpGroup = 7;

// Cursor numbers of the program's own cursors.
constexpr TCursor crDragCopy = 12, crEyedropper = 10, crInsert = 11;

TMenuItem *AddItem(TMenuItem &Parent, const std::string &Caption, const std::string &ShortCut,
                   const std::string &Hint, TNotifyEvent Click = nullptr, bool Enabled = true) {
    auto *item = new TMenuItem(nullptr);
    item->SetCaption(Caption);
    item->SetShortCut(TextToShortCut(ShortCut));
    item->SetHint(Hint);
    item->OnClick = Click;
    // Commands whose windows are not part of the program yet stay visible but cannot be chosen.
    item->SetEnabled(Enabled && Click.Assigned());
    Parent.Add(item);
    return item;
}

void AddSeparator(TMenuItem &Parent) {
    auto *item = new TMenuItem(nullptr);
    item->SetCaption("-");
    Parent.Add(item);
}

TMenuItem *AddMenu(TMainMenu &Menu, const std::string &Caption, int GroupIndex) {
    auto *item = new TMenuItem(nullptr);
    item->SetCaption(Caption);
    item->SetGroupIndex(GroupIndex);
    Menu.Items().Add(item);
    return item;
}

void LoadCursor(TCursor Number, const char *Name) {
    if (HCURSOR cursor = LoadCursorA(GetModuleHandleA(nullptr), Name))
        Screen->SetCursors(Number, cursor);
}

// The form that holds a control: the first form met walking up its parents.
TCustomForm *OwningForm(TControl *Control) {
    for (TControl *c = Control; c; c = c->Parent())
        if (auto *form = dynamic_cast<TCustomForm *>(c))
            return form;
    return nullptr;
}

TWinControl *FocusedControl() {
    HWND focus = GetFocus();
    TWinControl *control = nullptr;
    while (focus && !(control = FindControl(focus)))
        focus = GetParent(focus);
    return control;
}

// Gives the focus to the first control, depth first in child order, that is a tab stop; a
// control without a tab stop is searched in turn.
bool FocusFirstControl(TWinControl *Window) {
    for (int i = 0; i < Window->ControlCount(); ++i) {
        auto *control = dynamic_cast<TWinControl *>(Window->Controls(i));
        if (!control || !control->CanFocus() || control->TabOrder() > 0)
            continue;
        if (control->TabStop()) {
            if (MainForm)
                MainForm->SetActiveControl(nullptr);
            control->SetFocus();
            return true;
        }
        if (FocusFirstControl(control))
            return true;
    }
    return false;
}

} // namespace

std::string ExceptionMessageText(const std::string &Message) {
    size_t end = Message.size();
    while (end > 0 && Message[end - 1] == '.')
        --end;
    return Message.substr(0, end) + ".";
}

TExceptionRoute ExceptionRoute(std::exception_ptr E) {
    try {
        std::rethrow_exception(E);
    } catch (const EAbort &) {
        return TExceptionRoute::Silent;
    } catch (const EOutOfMemory &) {
        return TExceptionRoute::CrashReport;
    } catch (const std::bad_alloc &) {
        return TExceptionRoute::CrashReport;
    } catch (const EExternal &) {
        return TExceptionRoute::CrashReport;
    } catch (const EListError &) {
        return TExceptionRoute::CrashReport;
    } catch (const VexException &) {
        // The crash library's processor faults and run-time errors.
        return TExceptionRoute::CrashReport;
    } catch (const std::exception &) {
        return TExceptionRoute::MessageBox;
    } catch (...) {
        return TExceptionRoute::Silent;
    }
}

std::unique_ptr<TBitmap> LoadWallpaperBitmap(const std::string &FileName, bool) {
    try {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->LoadFromFile(FileName);
        if (bitmap->Empty())
            return nullptr;
        return bitmap;
    } catch (...) {
        return nullptr; // no wallpaper, and nothing to tell: the workspace shows its colour
    }
}

// =============================================================================================
// Creation and destruction

TMainForm::TMainForm(TComponent *AOwner) : TForm(AOwner) {
    MainForm = this;
    // The program's main window before its window is made: a main window has no owner (it is
    // the one on the task bar), every other form gets the main window as owner.
    if (!Application->MainForm())
        Application->SetMainForm(this);
    SetName(MainFormName);
    // The caption names the version; the application's title stays the program's name.
    FMainCaption = ProgramInformation() ? ProgramInformation()->Title : Application->Title();
    SetCaption(FMainCaption);
    SetFormStyle(fsMDIForm);
    SetKeyPreview(true);
    SetColor(clAppWorkSpace);
    Constraints().SetMinWidth(500);
    Constraints().SetMinHeight(400);
    SetBounds(40, 40, 900, 650);

    StatusBar = new TTaskStatusBar(this);
    StatusBar->SetParent(this);
    StatusBar->SetAlign(alNone);
    StatusBar->OnDrawPanel = MakeEvent<&TMainForm::StatusBarDrawPanel>(this);
    // The system's status-bar font, not the form's.
    StatusBar->Font().Assign(Screen->HintFont());
    StatusBar->SetParentFont(false);
    ToolBar = new TAdvToolBar(this);
    ToolBar->SetParent(this);
    ToolBar->SetAlign(alNone);
    ToolBar->SetHeight(30);
    ToolBar->OnRollChange = MakeNotifyEvent<&TMainForm::ToolBarRollChange>(this);
    ToolBar->OnResize = MakeNotifyEvent<&TMainForm::ChildResize>(this);
    DockBar = new TAdvDockBar(this);
    DockBar->SetParent(this);
    DockBar->SetAlign(alNone);
    DockBar->SetBarWidth(ScaleForScreenFont(210));
    DockBar->OnChange = MakeNotifyEvent<&TMainForm::DockBarChange>(this);
    DockBar->OnPopup = MakeEvent<&TMainForm::DockBarPopup>(this);
    DockBar->OnResize = MakeNotifyEvent<&TMainForm::ChildResize>(this);
    MinimizedTimer = new TTimer(this);
    MinimizedTimer->SetEnabled(false);
    MinimizedTimer->SetInterval(1000);
    MinimizedTimer->SetOnTimer(MakeNotifyEvent<&TMainForm::MinimizedTimerTick>(this));
    CreateMenus();
    CreateToolBar();
    LoadMenuImages();

    // 1. Placement: maximised unless a stored state says otherwise.
    TConfigManager *config = ConfigManager();
    HandleNeeded();
    if (config) {
        int state = 2;
        if (config->LoadWindowPlacement(Handle(), MainFormName, true, &state))
            FPlacementState = state;
    }
    // 2. The tool windows and their layout.
    for (int i = 0; i < ShellToolCount; ++i)
        DockBar->AddTool(ShellTool(i).FormClass);
    if (!config || !config->LoadDockBar(*DockBar))
        SetDefaultToolLayout();
    DockBar->SetRolledUp(config && config->ReadFormBool(MainFormName, "DockBarRolledUp", false));
    // 4. Cursors and dropped files.
    LoadCursor(crDrag, "DRAG");
    LoadCursor(crDragCopy, "DRAGCOPY");
    LoadCursor(crEyedropper, "EYEDROPPER");
    LoadCursor(crInsert, "INSERT");
    OnDropFiles = MakeEvent<&TMainForm::FilesDropped>(this);
    SetAcceptFiles(true);
    // 5. Hooks.
    SavedTitle = Application->Title();
    Application->OnHint = MakeNotifyEvent<&TMainForm::AppHint>(this);
    Screen->OnActiveFormChange = MakeNotifyEvent<&TMainForm::ActiveFormChange>(this);
    OnShortCut = MakeEvent<&TMainForm::FormShortCut>(this);
    // 6.
    UpdateWindowMenu();
    UpdateDocumentToolBar();
    ApplyGeneralOptions();
    UpdateStatusBar();
    FReady = true;
    // 7.
    if (config) {
        SetWallpaperFile(config->General->WallpaperFile);
        SetWallpaperColors(config->General->WallpaperColors);
        SetWallpaperMode(config->General->WallpaperMode);
    }
    // 8. The interface thread's exceptions, through the crash library.
    RegisterExceptionHandler(false, false, MakeEvent<&TMainForm::CrashException>(this));
    // 9.
    if (config)
        config->AddHandler(MakeNotifyEvent<&TMainForm::ConfigurationChanged>(this));
    if (TFileHistoryManager *history = FileHistoryManager()) {
        history->AddHandler(MakeNotifyEvent<&TMainForm::FileHistoryChanged>(this));
        history->UpdateMenu(*FileMenu);
    }
    // 10.
    if (TProgressManager *progress = ProgressManager())
        progress->OnProgress = MakeEvent<&TMainForm::ShowProgress>(this);
    Resize();
    // 11.
    PostMessageA(Handle(), WM_STARTUP, 0, 0);
}

TMainForm::~TMainForm() {
    FClosing = true;
    SaveLayout();
    if (TProgressManager *progress = ProgressManager())
        if (progress->OnProgress == MakeEvent<&TMainForm::ShowProgress>(this))
            progress->OnProgress = nullptr;
    if (InstanceReceiver())
        InstanceReceiver()->Detach();
    UnregisterExceptionHandler(MakeEvent<&TMainForm::CrashException>(this));
    if (Application)
        Application->OnHint = nullptr;
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::SaveLayout() {
    if (FLayoutSaved)
        return;
    FLayoutSaved = true;
    if (TFileHistoryManager *history = FileHistoryManager())
        history->RemoveHandler(MakeNotifyEvent<&TMainForm::FileHistoryChanged>(this));
    TConfigManager *config = ConfigManager();
    if (config)
        config->RemoveHandler(MakeNotifyEvent<&TMainForm::ConfigurationChanged>(this));
    SetAcceptFiles(false);
    if (Screen)
        Screen->OnActiveFormChange = nullptr;
    if (config) {
        config->SaveDockBar(*DockBar);
        config->WriteFormBool(MainFormName, "DockBarRolledUp", DockBar->RolledUp());
        if (HandleAllocated())
            config->SaveWindowPlacement(Handle(), MainFormName, true);
    }
}

void TMainForm::DoClose(TCloseAction &Action) {
    FClosing = true;
    TForm::DoClose(Action);
    if (Action == caNone)
        FClosing = false;
    else
        SaveLayout();
}

void TMainForm::ShowMainWindow() {
    Show();
    if (FPlacementState == 2)
        Maximize();
}

void TMainForm::CreateMenus() {
    MainMenu = new TMainMenu(this);
    FileMenu = AddMenu(*MainMenu, "&File", FileGroup);
    NewItem = AddItem(*FileMenu, "&New", "", "Creates a new document.");
    NewItem->SetEnabled(true);
    NewFractalItem = AddItem(*NewItem, "&Fractal", "Ctrl+N", "Creates a new fractal.");
    NewGradientItem = AddItem(*NewItem, "&Gradient", "", "Creates a new gradient.");
    NewTransformationItem =
        AddItem(*NewItem, "&Transformation File", "", "Creates a new transformation file.");
    NewFormulaItem = AddItem(*NewItem, "Fractal F&ormula File", "", "Creates a new fractal formula file.");
    NewColoringItem =
        AddItem(*NewItem, "&Coloring Algorithm File", "", "Creates a new coloring algorithm file.");
    OpenItem = AddItem(*FileMenu, "&Open...", "Ctrl+O", "Opens an existing document.",
                       MakeNotifyEvent<&TMainForm::OpenItemClick>(this));
    BrowseItem = AddItem(*FileMenu, "&Browse...", "Ctrl+B",
                         "Opens a browser window to open and organize your documents.");
    // The recent files (filled by the file history), between two separators.
    AddSeparator(*FileMenu);
    for (int i = 1; i <= TFileHistoryManager::MenuItems; ++i) {
        auto *item = new TMenuItem(nullptr);
        item->SetName(Format("History%dItem", i));
        item->SetVisible(false);
        FileMenu->Add(item);
    }
    AddSeparator(*FileMenu);
    ExitItem = AddItem(*FileMenu, "E&xit", "Alt+F4", "Closes Orbisk Vantel.",
                       MakeNotifyEvent<&TMainForm::ExitItemClick>(this));

    OptionsMenu = AddMenu(*MainMenu, "&Options", OptionsGroup);
    ToolbarItem = AddItem(*OptionsMenu, "&Toolbar", "", "Shows or hides the toolbar.",
                          MakeNotifyEvent<&TMainForm::ToolbarItemClick>(this));
    ToolWindowsItem = AddItem(*OptionsMenu, "Tool &Windows", "F12", "Shows or hides the tool windows.",
                              MakeNotifyEvent<&TMainForm::ToolWindowsItemClick>(this));
    StatusBarItem = AddItem(*OptionsMenu, "&Status Bar", "", "Shows or hides the status bar.",
                            MakeNotifyEvent<&TMainForm::StatusBarItemClick>(this));
    WindowPanelItem =
        AddItem(*OptionsMenu, "Window &Panel", "", "Shows or hides the window panel in the status bar.",
                MakeNotifyEvent<&TMainForm::WindowPanelItemClick>(this));
    ShowHintsItem = AddItem(*OptionsMenu, "Show &Hints", "",
                            "Enables or disables hints (information in small windows when you move the mouse "
                            "over a control).",
                            MakeNotifyEvent<&TMainForm::ShowHintsItemClick>(this));
    AddSeparator(*OptionsMenu);
    UpdateFormulasItem = AddItem(*OptionsMenu, "&Update Public Formulas...", "",
                                 "Copies new and updated formulas from the public formula collection on the "
                                 "Internet to your computer.",
                                 MakeNotifyEvent<&TMainForm::UpdateFormulasItemClick>(this));
    OptionsItem = AddItem(*OptionsMenu, "&Options...", "", "Sets options.");

    WindowMenu = AddMenu(*MainMenu, "&Window", WindowGroup);
    CascadeItem = AddItem(*WindowMenu, "&Cascade", "", "Cascades all open windows.",
                          MakeNotifyEvent<&TMainForm::CascadeItemClick>(this));
    TileHorizontalItem =
        AddItem(*WindowMenu, "Tile &Horizontal", "", "Arranges all open windows horizontally.",
                MakeNotifyEvent<&TMainForm::TileHorizontalItemClick>(this));
    TileVerticalItem = AddItem(*WindowMenu, "Tile &Vertical", "", "Arranges all open windows vertically.",
                               MakeNotifyEvent<&TMainForm::TileVerticalItemClick>(this));
    MinimizeAllItem = AddItem(*WindowMenu, "&Minimize All", "", "Minimizes all open windows.",
                              MakeNotifyEvent<&TMainForm::MinimizeAllItemClick>(this));
    UndoMinimizeAllItem =
        AddItem(*WindowMenu, "&Undo Minimize All", "", "Undoes the previous Minimize All command.",
                MakeNotifyEvent<&TMainForm::UndoMinimizeAllItemClick>(this));
    ArrangeIconsItem =
        AddItem(*WindowMenu, "&Arrange Icons", "", "Arranges the icons of all minimized windows.",
                MakeNotifyEvent<&TMainForm::ArrangeIconsItemClick>(this));
    AddSeparator(*WindowMenu);
    WindowToolsItem = AddItem(*WindowMenu, "&Tool Windows", "", "Shows or hides tool windows.");
    WindowToolsItem->SetEnabled(true);

    BarMenu = new TPopupMenu(this);
    for (int i = 0; i < ShellToolCount; ++i) {
        const TShellTool &tool = ShellTool(i);
        const std::string hint = Format("Shows or hides the %s tool window.", tool.HintName);
        WindowToolItems[i] = AddItem(*WindowToolsItem, tool.MenuCaption, tool.ShortCutText, hint,
                                     MakeNotifyEvent<&TMainForm::ToolItemClick>(this));
        WindowToolItems[i]->SetTag(i);
        BarToolItems[i] = AddItem(BarMenu->Items(), tool.MenuCaption, tool.ShortCutText, hint,
                                  MakeNotifyEvent<&TMainForm::ToolItemClick>(this));
        BarToolItems[i]->SetTag(i);
    }
    AddSeparator(BarMenu->Items());
    BarToolWindowsItem = AddItem(BarMenu->Items(), "Tool &Windows", "F12", "Shows or hides the tool windows.",
                                 MakeNotifyEvent<&TMainForm::ToolWindowsItemClick>(this));

    HelpMenu = AddMenu(*MainMenu, "&Help", HelpGroup);
    HelpItem = AddItem(*HelpMenu, "&Help", "F1", "Shows context-sensitive help.");
    ContentsItem =
        AddItem(*HelpMenu, "&Contents", "Shift+F1", "Shows an overview of the available help topics.",
                MakeNotifyEvent<&TMainForm::ContentsItemClick>(this));
    IndexItem = AddItem(*HelpMenu, "&Index", "Ctrl+F1", "Shows an index containing all help topics.",
                        MakeNotifyEvent<&TMainForm::IndexItemClick>(this));
    TopicSearchItem = AddItem(*HelpMenu, "Topic &Search", "Alt+F1",
                              "Searches for help on the word at the cursor position.");
    TopicSearchItem->SetVisible(false);
    AddSeparator(*HelpMenu);
    WhatsNewItem = AddItem(*HelpMenu, "What's &New", "", "Shows what's new in Orbisk Vantel 3.",
                           MakeNotifyEvent<&TMainForm::HelpPageItemClick>(this));
    TutorialsItem = AddItem(*HelpMenu, "&Tutorials", "", "Shows the available tutorials.",
                            MakeNotifyEvent<&TMainForm::HelpPageItemClick>(this));
    WorkspaceItem = AddItem(*HelpMenu, "&Workspace", "", "Shows help on the workspace and the tool windows.",
                            MakeNotifyEvent<&TMainForm::HelpPageItemClick>(this));
    KeyboardItem = AddItem(*HelpMenu, "&Keyboard Shortcuts", "", "Shows help on keyboard shortcuts.",
                           MakeNotifyEvent<&TMainForm::HelpPageItemClick>(this));
    SupportItem = AddItem(*HelpMenu, "S&upport", "", "Shows support information.",
                          MakeNotifyEvent<&TMainForm::HelpPageItemClick>(this));
    AddSeparator(*HelpMenu);
    AboutItem = AddItem(*HelpMenu, "&About...", "", "Shows copyright and version information.",
                        MakeNotifyEvent<&TMainForm::AboutItemClick>(this));
    const std::pair<TMenuItem *, const char *> pages[] = {{WhatsNewItem, WhatsNewTopic},
                                                          {TutorialsItem, TutorialsTopic},
                                                          {WorkspaceItem, WorkspaceTopic},
                                                          {KeyboardItem, "Html/keyboard/general.html"},
                                                          {SupportItem, "Html/support/support.html"}};
    for (const auto &[item, topic] : pages)
        FHelpPages[item] = topic;
    SetMenu(MainMenu);
    // The system lists the document windows at the end of the Window menu.
    SetWindowMenu(WindowMenu);
}

void TMainForm::CreateToolBar() {
    struct TButtonInfo {
        const char *Hint;
        TMenuItem *Item;
    };
    const TButtonInfo buttons[] = {
        {"New Fractal (Ctrl+N)|Creates a new fractal.", NewFractalItem},
        {"Open (Ctrl+O)|Opens an existing document.", OpenItem},
        {"Browse (Ctrl+B)|Opens a browser window to open and organize your documents.", BrowseItem},
        {"Help (F1)|Shows context-sensitive help.", HelpItem},
    };
    std::unique_ptr<TBitmap> strip;
    try {
        strip = std::make_unique<TBitmap>();
        strip->LoadFromResourceName(GetModuleHandleA(nullptr), "TOOLBAR_MAIN");
    } catch (const Exception &) {
        strip.reset(); // buttons without pictures
    }
    int left = ToolBar->Grip().Width() + 4;
    for (int i = 0; i < 4; ++i) {
        if (i == 3)
            left += 8; // the separator before Help
        auto *button = new TAdvSpeedButton(ToolBar);
        button->SetParent(ToolBar);
        button->SetFlat(true);
        button->SetBounds(left, 3, 23, 22);
        button->SetHint(buttons[i].Hint);
        button->SetShowHint(true);
        // A button runs its menu item's command and is available exactly when the item is.
        button->OnClick = buttons[i].Item->OnClick;
        button->SetEnabled(buttons[i].Item->Enabled());
        if (strip && strip->Width() >= 16 * (i + 1)) {
            TBitmap &glyph = button->Glyph();
            glyph.SetSize(16, 16);
            glyph.Canvas().CopyRect({0, 0, 16, 16}, strip->Canvas(), {16 * i, 0, 16 * i + 16, 16});
            glyph.SetTransparent(true);
        }
        ToolButtons[i] = button;
        left += 23;
    }
}

// Cuts a strip of 16 x 16 pictures into 32-bit bitmaps whose magenta pixels are transparent.
static std::vector<std::unique_ptr<TBitmap>> CutImageStrip(const std::string &ResourceName, int Count) {
    std::vector<std::unique_ptr<TBitmap>> images;
    TBitmap strip;
    try {
        strip.LoadFromResourceName(GetModuleHandleA(nullptr), ResourceName);
    } catch (const Exception &) {
        return images; // a program without the pictures shows plain items
    }
    for (int i = 0; i < Count && strip.Width() >= 16 * (i + 1); ++i) {
        auto image = std::make_unique<TBitmap>(16, 16, pf32bit);
        image->Canvas().CopyRect({0, 0, 16, 16}, strip.Canvas(), {16 * i, 0, 16 * i + 16, 16});
        for (int y = 0; y < 16; ++y) {
            auto *row = static_cast<uint8_t *>(image->ScanLine(y));
            for (int x = 0; x < 16; ++x) {
                uint8_t *pixel = row + 4 * x; // blue, green, red, alpha
                const bool magenta = pixel[0] == 0xFF && pixel[1] == 0 && pixel[2] == 0xFF;
                if (magenta)
                    pixel[0] = pixel[1] = pixel[2] = pixel[3] = 0;
                else
                    pixel[3] = 0xFF;
            }
        }
        images.push_back(std::move(image));
    }
    return images;
}

void TMainForm::LoadMenuImages() {
    TMenuItem *items[] = {NewFractalItem, OpenItem,    BrowseItem,         HelpItem,         ExitItem,
                          OptionsItem,    CascadeItem, TileHorizontalItem, TileVerticalItem, AboutItem};
    FMenuImages = CutImageStrip("MENUIMAGES", 10);
    for (size_t i = 0; i < FMenuImages.size(); ++i)
        items[i]->SetImage(FMenuImages[i]->Handle());
}

// =============================================================================================
// Layout

void TMainForm::ChildResize(TObject *) {
    LayOut(false);
}

void TMainForm::Resize() {
    TForm::Resize();
    LayOut(true);
}

void TMainForm::LayOut(bool OwnResize) {
    if (!HandleAllocated() || !StatusBar || !DockBar || !ToolBar)
        return;
    const RECT client = ClientRect();
    int width = client.right, height = client.bottom;
    // Before the window's own first resize its client size is not yet the maximised one: the
    // bars, resized meanwhile, are placed for the work area that the window will fill.
    if (!FFirstResize || !Showing()) {
        if (OwnResize) {
            FFirstResize = true;
        } else if (Maximized() || (!Showing() && FPlacementState == 2)) {
            RECT work;
            if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
                width = work.right - work.left;
                height = work.bottom - work.top;
            }
        }
    }
    StatusBar->SetBounds(0, height - StatusBar->Height(), width, StatusBar->Height());
    const int dockHeight = StatusBar->Visible() ? StatusBar->Top() : height;
    DockBar->SetBounds(width - DockBar->Width(), 0, DockBar->Width(), dockHeight);
    ToolBar->SetBounds(0, 0, DockBar->Left(), ToolBar->Height());
    PlaceClientWindow({0, ToolBar->Height(), DockBar->Left(), DockBar->Height()});
}

// =============================================================================================
// Wallpaper and the client window

void TMainForm::SetWallpaperFile(const std::string &Value) {
    if (Value == FWallpaperFile)
        return;
    FWallpaperFile = Value;
    LoadWallpaper();
}

void TMainForm::SetWallpaperColors(uint8_t Value) {
    if (Value == FWallpaperColors)
        return;
    FWallpaperColors = Value;
    LoadWallpaper();
}

void TMainForm::SetWallpaperMode(uint8_t Value) {
    if (Value == FWallpaperMode)
        return;
    FWallpaperMode = Value;
    LoadWallpaper();
}

void TMainForm::LoadWallpaper() {
    FWallpaper.reset();
    // Fewer than 15 bits of colour would dither the picture and the documents' palettes with it.
    if (GetScreenColorDepth() >= 15 && !FWallpaperFile.empty() && FWallpaperMode != wmOff) {
        BeginWaitCursor();
        FWallpaper = LoadWallpaperBitmap(FWallpaperFile, FWallpaperColors == 1);
        EndWaitCursor();
    }
    if (ClientHandle())
        InvalidateRect(ClientHandle(), nullptr, TRUE);
}

void TMainForm::ClientWndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_ERASEBKGND:
        if (ClientEraseBackground(reinterpret_cast<HDC>(Message.WParam))) {
            Message.Result = 1;
            return;
        }
        break;
    case WM_HSCROLL:
    case WM_VSCROLL:
        // A centred or tiled wallpaper does not scroll with the documents.
        InvalidateRect(ClientHandle(), nullptr, TRUE);
        break;
    default:
        break;
    }
    TForm::ClientWndProc(Message);
}

bool TMainForm::ClientEraseBackground(HDC DC) {
    if (!FWallpaper || !DC)
        return false;
    TCanvas canvas;
    TCanvasDCScope scope(canvas, DC);
    const int bitmapWidth = FWallpaper->Width(), bitmapHeight = FWallpaper->Height();
    if (FWallpaperMode == wmTile) {
        // Enough tiles for the whole main window, so that growing it shows no gap.
        const RECT main = ClientRect();
        const int rows = main.bottom / bitmapHeight, columns = main.right / bitmapWidth;
        for (int row = 0; row <= rows; ++row)
            for (int column = 0; column <= columns; ++column)
                canvas.Draw(column * bitmapWidth, row * bitmapHeight, *FWallpaper);
    } else {
        RECT client;
        GetClientRect(ClientHandle(), &client);
        const int w = client.right, h = client.bottom;
        const int x = (w - bitmapWidth) / 2, y = (h - bitmapHeight) / 2;
        canvas.Brush().SetColor(Color());
        // A bitmap larger than the window leaves bands without area.
        for (const RECT &band :
             {RECT{0, 0, w, y}, RECT{0, y, x, y + bitmapHeight},
              RECT{x + bitmapWidth, y, w, y + bitmapHeight}, RECT{0, y + bitmapHeight, w, h}})
            if (band.right > band.left && band.bottom > band.top)
                canvas.FillRect(band);
        canvas.Draw(x, y, *FWallpaper);
    }
    return true;
}

// =============================================================================================
// Start-up, hand-over and exceptions

void TMainForm::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_STARTUP:
        WMStartup();
        return;
    case WM_SHOWEXCEPTION:
        WMShowException(reinterpret_cast<char *>(Message.LParam));
        return;
    case WM_NCACTIVATE:
        TForm::WndProc(Message);
        if (DockBar)
            DockBar->SetActive(Message.WParam != 0);
        return;
    case WM_ENTERMENULOOP:
    case WM_EXITMENULOOP:
        PassToChildren(Message.Msg, Message.WParam, Message.LParam);
        break;
    case WM_PALETTECHANGED:
        PassToChildren(Message.Msg, Message.WParam, 0);
        break;
    case WM_QUERYNEWPALETTE:
        Message.Result = QueryChildrenPalette();
        return;
    case CM_DIALOGCHAR:
        if (DialogCharToFocusedForm(Message))
            return;
        break;
    case WM_SIZE:
        // The main window is the program's window on the task bar: minimising it is minimising
        // the program.
        if (Message.WParam == SIZE_MINIMIZED && !MainMinimized) {
            MainMinimized = true;
            MinimizedTimer->SetEnabled(true);
        } else if (Message.WParam != SIZE_MINIMIZED && MainMinimized) {
            MainMinimized = false;
            MinimizedTimer->SetEnabled(false);
            UpdateApplicationTitle();
        }
        TForm::WndProc(Message);
        Resize();
        return;
    default:
        break;
    }
    TForm::WndProc(Message);
}

void TMainForm::PassToChildren(UINT Msg, WPARAM WParam, LPARAM LParam) {
    for (int i = 0; i < MDIChildCount(); ++i)
        MDIChildren(i)->Perform(Msg, WParam, LParam);
}

LRESULT TMainForm::QueryChildrenPalette() {
    // The first document that realises a palette of its own decides.
    for (int i = 0; i < MDIChildCount(); ++i)
        if (LRESULT answer = MDIChildren(i)->Perform(WM_QUERYNEWPALETTE))
            return answer;
    return 0;
}

bool TMainForm::DialogCharToFocusedForm(TMessage &Message) {
    // Alt+letter in a tool window belongs to that window: the same letter may be an
    // accelerator of another tool window too.
    TCustomForm *form = OwningForm(FocusedControl());
    if (!form || form == this)
        return false;
    Message.Result = form->Perform(Message.Msg, Message.WParam, Message.LParam);
    return true;
}

void TMainForm::OpenFiles(const std::vector<std::string> &FileNames) {
    // As at start-up, one file that cannot be opened shows its message and does not keep the
    // files after it from opening: a later start's request is never dropped half done.
    for (const std::string &name : FileNames) {
        try {
            OpenDocumentFile(ExpandLongFileName(name));
        } catch (...) {
            Application->HandleException(this);
        }
    }
}

void TMainForm::WMStartup() {
    CloseSplash();
    Application->ProcessMessages();
    const std::vector<std::string> arguments = SplitCommandLine(GetCommandLineA());
    bool opened = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i].empty() || arguments[i][0] == '/')
            continue;
        opened = true;
        // One file that cannot be opened does not keep the others from opening.
        try {
            OpenDocumentFile(ExpandLongFileName(arguments[i]));
        } catch (...) {
            Application->HandleException(this);
        }
    }
    if (!opened && ConfigManager()) {
        try {
            PerformStartupAction(ConfigManager()->General->StartupAction);
        } catch (...) {
            Application->HandleException(this);
        }
    }
    // The welcome window follows also when files were opened.
    if (ConfigManager() && ConfigManager()->General->StartupWelcome)
        ShowWelcome();
    // The later starts that came meanwhile are opened now, after the program's own files.
    if (InstanceReceiver())
        InstanceReceiver()->StartupDone(MakeEvent<&TMainForm::AppMessage>(this));
}

void TMainForm::AppMessage(const std::vector<std::string> &FileNames) {
    if (Minimized())
        Restore();
    SetForegroundWindow(Handle());
    BringToFront();
    TCustomForm *active = Screen->ActiveForm();
    if (active && active->Modal())
        return;
    OpenFiles(FileNames);
}

void TMainForm::AppException(TObject *Sender, std::exception_ptr E) {
    if (ExceptionRoute(E) == TExceptionRoute::Silent)
        return;
    std::string text;
    try {
        std::rethrow_exception(E);
    } catch (const std::exception &error) {
        text = error.what();
    } catch (...) {
        return;
    }
    char *copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    if (!HandleAllocated() || !PostMessageA(Handle(), WM_SHOWEXCEPTION, 0, reinterpret_cast<LPARAM>(copy)))
        delete[] copy;
}

void TMainForm::CrashException(bool Frozen, std::exception_ptr E, void *, DWORD, std::string &BugReport,
                               std::string &, bool &, bool &Handled) {
    if (Frozen || !E)
        return;
    switch (ExceptionRoute(E)) {
    case TExceptionRoute::Silent:
        Handled = true;
        break;
    case TExceptionRoute::MessageBox:
        Handled = true;
        AppException(this, E);
        break;
    case TExceptionRoute::CrashReport:
        BugReport =
            "If you mail a bug report, please include a detailed description\r\nof what caused the error "
            "to occur, with steps to reproduce it.\r\n\r\n" +
            BugReport;
        break;
    }
}

void TMainForm::WMShowException(char *Text) {
    std::unique_ptr<char[]> text(Text);
    if (!text)
        return;
    FPendingErrors.push_back(text.get());
    // A text that arrives while a box shows (its modal loop dispatches the posted message) waits
    // for that box to close: a second box on top would leave the first one unanswerable.
    if (FShowingErrors)
        return;
    FShowingErrors = true;
    while (!FPendingErrors.empty()) {
        const std::string next = FPendingErrors.front();
        FPendingErrors.erase(FPendingErrors.begin());
        try {
            AdvMessageDlg(ExceptionMessageText(next), mtError, {mbOK}, 0);
        } catch (...) {
            FShowingErrors = false;
            throw;
        }
    }
    FShowingErrors = false;
}

void TMainForm::FilesDropped(TObject *, const std::vector<std::string> &FileNames) {
    OpenFiles(FileNames);
}

// =============================================================================================
// Status bar

TDocumentForm *TMainForm::ActiveDocument() {
    TCustomForm *child = ActiveMDIChild();
    if (!child || child->Destroying())
        return nullptr;
    return dynamic_cast<TDocumentForm *>(child);
}

TStatusBar *TMainForm::GetDocumentStatusBar(TDocumentForm *Document) {
    return Document && ActiveDocument() == Document && StatusMode == smDocument ? StatusBar : nullptr;
}

void TMainForm::UpdateStatusBar() {
    StatusBar->BeginUpdate();
    StatusBar->ClearPanels();
    switch (StatusMode) {
    case smDocument: {
        TCustomForm *child = ActiveMDIChild();
        if (!child || child->Destroying())
            StatusBar->AddPanel(" Press F1 to get help.", ScaleForScreenFont(200));
        else if (auto *document = dynamic_cast<TDocumentForm *>(child))
            document->UpdateStatusBar();
        break;
    }
    case smHint: {
        int index = StatusBar->AddPanel(" " + Application->Hint(), ScaleForScreenFont(500));
        StatusBar->Panels(index).Bevel = false;
        break;
    }
    default:
        StatusBar->AddPanel("", ScaleForScreenFont(200));
        StatusBar->AddPanel("", ScaleForScreenFont(200), psOwnerDraw);
        break;
    }
    int last = StatusBar->AddPanel("", 0);
    StatusBar->Panels(last).Bevel = false;
    StatusBar->EndUpdate();
    StatusBar->UpdateTaskPanel();
}

void TMainForm::AppHint(TObject *) {
    if (StatusMode == smProgress)
        return;
    StatusMode = Application->Hint().empty() ? smDocument : smHint;
    UpdateStatusBar();
}

void TMainForm::ShowProgress(TObject *, int Kind, const std::string &Text, int Percent) {
    switch (Kind) {
    case 0:
        StatusMode = smProgress;
        FProgressPercent = 0;
        FProgressBlocks = 0;
        UpdateStatusBar();
        StatusBar->SetPanelText(0, Text);
        break;
    case 1: {
        if (StatusMode != smProgress)
            break;
        FProgressPercent = Percent;
        StatusBar->SetPanelText(0, Text);
        RECT r = StatusBar->PanelRect(1);
        InflateRect(&r, -1, -1);
        // Repainted only when another block shows, not at every step.
        if (DrawProgressBlocks(nullptr, r, FProgressPercent / 100.0) != FProgressBlocks)
            StatusBar->InvalidatePanel(1, r);
        break;
    }
    default:
        StatusMode = smDocument;
        UpdateStatusBar();
        break;
    }
    StatusBar->Update();
}

void TMainForm::StatusBarDrawPanel(TStatusBar *Sender, int Panel, RECT Rect) {
    if (StatusMode == smProgress) {
        InflateRect(&Rect, -1, -1);
        Sender->Canvas().Brush().SetColor(clBtnFace);
        Sender->Canvas().FillRect(Rect);
        FProgressBlocks = DrawProgressBlocks(&Sender->Canvas(), Rect, FProgressPercent / 100.0);
    } else if (StatusMode == smDocument) {
        if (TDocumentForm *document = ActiveDocument())
            document->DrawStatusPanel(Sender, Panel, Rect);
    }
}

// =============================================================================================
// Active window, title

void TMainForm::ActiveFormChange(TObject *) {
    if (FClosing || Destroying())
        return;
    UpdateWindowMenu();
    TCustomForm *child = ActiveMDIChild();
    if (child && child->Destroying())
        child = nullptr;
    if (child == FLastActiveChild)
        return;
    UpdateDocumentToolBar();
    auto *document = dynamic_cast<TDocumentForm *>(child);
    if (document) {
        document->RefreshStatusBar();
        TopicSearchItem->SetVisible(document->HasTopicSearch());
    } else {
        UpdateStatusBar();
        TopicSearchItem->SetVisible(false);
    }
    FLastActiveChild = child;
}

void TMainForm::UpdateDocumentToolBar() {
    // The panel placed last is looked up by pointer only: its window may be gone.
    for (int i = 0; i < ToolBar->ControlCount(); ++i)
        if (ToolBar->Controls(i) == FDocumentToolBar) {
            FDocumentToolBar->SetParent(nullptr);
            break;
        }
    FDocumentToolBar = nullptr;
    if (TDocumentForm *document = ActiveDocument())
        if (TWinControl *bar = document->GetToolBar()) {
            bar->SetParent(ToolBar);
            bar->SetLeft(ToolButtons[3]->Left() + ToolButtons[3]->Width() + 8);
            bar->SetVisible(!ToolBar->RolledUp());
            FDocumentToolBar = bar;
        }
}

void TMainForm::MinimizedTimerTick(TObject *) {
    UpdateApplicationTitle();
}

void TMainForm::UpdateApplicationTitle() {
    // The active fractal's progress ("[%d%%] %s") joins the title once fractal windows exist.
    const std::string title = SavedTitle;
    if (Application->Title() != title)
        Application->SetTitle(title);
    // The task bar shows the main window's caption.
    const std::string caption = title == SavedTitle ? FMainCaption : title;
    if (Caption() != caption)
        SetCaption(caption);
}

void TMainForm::ConfigurationChanged(TObject *) {
    ApplyGeneralOptions();
    // Mode off first, so that the file and the colour matching do not each load the bitmap.
    const TGeneralConfiguration &general = *ConfigManager()->General;
    SetWallpaperMode(wmOff);
    SetWallpaperFile(general.WallpaperFile);
    SetWallpaperColors(general.WallpaperColors);
    SetWallpaperMode(general.WallpaperMode);
}

void TMainForm::FileHistoryChanged(TObject *) {
    if (TFileHistoryManager *history = FileHistoryManager())
        history->UpdateMenu(*FileMenu);
}

// =============================================================================================
// Options and window menu

void TMainForm::ApplyGeneralOptions() {
    TConfigManager *config = ConfigManager();
    if (!config)
        return;
    const TGeneralConfiguration &general = *config->General;
    ShowHintsItem->SetChecked(general.ShowHints);
    ToolbarItem->SetChecked(general.ShowToolbar);
    StatusBarItem->SetChecked(general.ShowStatusBar);
    WindowPanelItem->SetChecked(general.WindowBar);
    Application->SetShowHint(ShowHintsItem->Checked());
    ToolBar->SetRolledUp(!ToolbarItem->Checked());
    StatusBar->SetVisible(StatusBarItem->Checked());
    StatusBar->SetShowTasks(WindowPanelItem->Checked());
    Resize();
}

void TMainForm::ToolbarItemClick(TObject *) {
    ToolBar->SetRolledUp(!ToolBar->RolledUp());
}

void TMainForm::ToolBarRollChange(TObject *) {
    ToolbarItem->SetChecked(!ToolBar->RolledUp());
    if (ConfigManager())
        ConfigManager()->General->ShowToolbar = ToolbarItem->Checked();
    if (FDocumentToolBar)
        FDocumentToolBar->SetVisible(!ToolBar->RolledUp());
}

void TMainForm::StatusBarItemClick(TObject *) {
    StatusBar->SetVisible(!StatusBar->Visible());
    StatusBarItem->SetChecked(StatusBar->Visible());
    if (ConfigManager())
        ConfigManager()->General->ShowStatusBar = StatusBar->Visible();
    Resize();
}

void TMainForm::WindowPanelItemClick(TObject *) {
    StatusBar->SetShowTasks(!StatusBar->ShowTasks());
    WindowPanelItem->SetChecked(StatusBar->ShowTasks());
    if (ConfigManager())
        ConfigManager()->General->WindowBar = StatusBar->ShowTasks();
}

void TMainForm::ShowHintsItemClick(TObject *) {
    Application->SetShowHint(!Application->ShowHint());
    ShowHintsItem->SetChecked(Application->ShowHint());
    if (ConfigManager())
        ConfigManager()->General->ShowHints = Application->ShowHint();
}

void TMainForm::OpenItemClick(TObject *) {
    ExecuteOpenDialog();
}

void TMainForm::ExitItemClick(TObject *) {
    Close();
}

void TMainForm::UpdateWindowMenu() {
    const bool any = MDIChildCount() > 0;
    for (TMenuItem *item : {CascadeItem, TileHorizontalItem, TileVerticalItem, MinimizeAllItem,
                            UndoMinimizeAllItem, ArrangeIconsItem})
        item->SetEnabled(any);
}

void TMainForm::CascadeItemClick(TObject *) {
    Cascade();
}

void TMainForm::TileHorizontalItemClick(TObject *) {
    Tile(true);
}

void TMainForm::TileVerticalItemClick(TObject *) {
    Tile(false);
}

void TMainForm::MinimizeAllItemClick(TObject *) {
    for (int i = MDIChildCount() - 1; i >= 0; --i)
        MDIChildren(i)->Minimize();
}

void TMainForm::UndoMinimizeAllItemClick(TObject *) {
    for (int i = 0; i < MDIChildCount(); ++i)
        MDIChildren(i)->Restore();
}

void TMainForm::ArrangeIconsItemClick(TObject *) {
    ArrangeIcons();
}

void TMainForm::HelpItemClick(TObject *) {
    if (TDocumentForm *document = ActiveDocument())
        document->ShowHelp();
    else
        Application->HelpCommand(HELP_CONTENTS, 0);
}

void TMainForm::TopicSearchItemClick(TObject *) {
    if (TDocumentForm *document = ActiveDocument())
        document->TopicSearch();
    else
        Application->HelpCommand(HELP_CONTENTS, 0);
}

void TMainForm::ContentsItemClick(TObject *) {
    Application->HelpCommand(HELP_FINDER, 0);
}

void TMainForm::IndexItemClick(TObject *) {
    Application->HelpCommand(HELP_PARTIALKEY, reinterpret_cast<intptr_t>(""));
}

void TMainForm::HelpPageItemClick(TObject *Sender) {
    const auto page = FHelpPages.find(Sender);
    if (page != FHelpPages.end())
        HelpJump(page->second);
}

void TMainForm::UpdateFormulasItemClick(TObject *) {
    ShowUpdateFormulas();
}

void TMainForm::AboutItemClick(TObject *) {
    ShowAboutForm();
}

// =============================================================================================
// Tool windows

void TMainForm::SetDefaultToolLayout() {
    for (int i = 0; i < DockBar->GetToolCount(); ++i)
        DockBar->GetTool(i)->SetToolVisible(i < 3);
    DockBar->SetLayoutScrollPos(0);
}

void TMainForm::ShowToolWindow(const TToolFormClass &FormClass) {
    TToolPanel *panel = DockBar->FindTool(FormClass);
    if (!panel)
        return;
    panel->ShowTool();
    if (panel->Docked() && DockBar->RolledUp())
        DockBar->SetRolledUp(false);
}

void TMainForm::ToolItemClick(TObject *Sender) {
    auto *item = dynamic_cast<TMenuItem *>(Sender);
    if (!item)
        return;
    TToolPanel *panel = DockBar->FindTool(ShellTool(static_cast<int>(item->Tag())).FormClass);
    if (panel->Docked() && DockBar->RolledUp()) {
        panel->ShowTool();
        DockBar->SetRolledUp(false);
    } else {
        panel->SetToolVisible(!panel->ToolVisible());
    }
}

void TMainForm::ToolWindowsItemClick(TObject *) {
    if (ToolWindowsItem->Checked()) {
        for (int i = 0; i < DockBar->GetToolCount(); ++i) {
            TToolPanel *panel = DockBar->GetTool(i);
            if (panel->Docked())
                continue;
            panel->SetRememberedVisible(panel->ToolVisible());
            panel->HideTool();
        }
        FDockBarRolledUpRemembered = DockBar->RolledUp();
        DockBar->SetRolledUp(true);
    } else {
        for (int i = 0; i < DockBar->GetToolCount(); ++i) {
            TToolPanel *panel = DockBar->GetTool(i);
            if (!panel->Docked())
                panel->SetToolVisible(panel->RememberedVisible());
        }
        DockBar->SetRolledUp(FDockBarRolledUpRemembered);
    }
    DockBarChange(DockBar);
}

bool TMainForm::UpdateToolItem(int Index) {
    TToolPanel *panel = DockBar->GetTool(Index);
    return panel->Docked() ? panel->ToolVisible() && !DockBar->RolledUp() : panel->ToolVisible();
}

void TMainForm::DockBarChange(TObject *) {
    if (DockBar->GetToolCount() < ShellToolCount)
        return;
    bool floatingShown = false;
    for (int i = 0; i < ShellToolCount; ++i) {
        const bool checked = UpdateToolItem(i);
        WindowToolItems[i]->SetChecked(checked);
        BarToolItems[i]->SetChecked(checked);
        TToolPanel *panel = DockBar->GetTool(i);
        floatingShown = floatingShown || (!panel->Docked() && panel->ToolVisible());
    }
    const bool shown = !DockBar->RolledUp() || floatingShown;
    ToolWindowsItem->SetChecked(shown);
    BarToolWindowsItem->SetChecked(shown);
}

void TMainForm::DockBarPopup(TObject *, int X, int Y) {
    BarMenu->Popup(X, Y);
}

// =============================================================================================
// Keyboard

void TMainForm::FormShortCut(WORD Key, TShiftState Shift, bool &Handled) {
    if (HandleEditShortCut(Key, Shift) || HandleFocusKey(Key, Shift) || DockBar->IsShortCut(Key, Shift))
        Handled = true;
}

bool TMainForm::HandleEditShortCut(WORD Key, TShiftState Shift) {
    if ((Shift & (ssShift | ssAlt | ssCtrl)) != ssCtrl || (Key != 'C' && Key != 'V' && Key != 'X'))
        return false;
    TWinControl *control = FocusedControl();
    if (!control)
        return false;
    if (auto *complex = dynamic_cast<TAdvComplexEdit *>(control)) {
        if (Key == 'C')
            complex->CopyToClipboard();
        else if (Key == 'V')
            complex->PasteFromClipboard();
        else
            complex->CutToClipboard();
        return true;
    }
    if (!dynamic_cast<TCustomEdit *>(control) && !dynamic_cast<TCustomComboBox *>(control))
        return false;
    control->Perform(Key == 'C' ? WM_COPY : Key == 'V' ? WM_PASTE : WM_CUT);
    return true;
}

bool TMainForm::FocusWindow(TWinControl *Window) {
    if (!Window || !Window->Showing())
        return false;
    if (!FocusFirstControl(Window) && Window->CanFocus())
        Window->SetFocus();
    return true;
}

bool TMainForm::HandleFocusKey(WORD Key, TShiftState Shift) {
    if (Key != VK_F11)
        return false;
    const int count = DockBar->GetToolCount();
    int current = -1;
    if (auto *tool = dynamic_cast<TToolForm *>(OwningForm(FocusedControl())))
        for (int i = 0; i < count; ++i)
            if (DockBar->GetTool(i)->ToolForm() == tool)
                current = i;
    if (current < 0) {
        for (int i = 0; i < count; ++i)
            if (FocusWindow(DockBar->GetTool(i)->ToolForm()))
                break;
        return true;
    }
    if (Shift & ssCtrl) {
        const int step = (Shift & ssShift) ? count - 1 : 1;
        for (int k = 1, i = (current + step) % count; k < count; ++k, i = (i + step) % count)
            if (FocusWindow(DockBar->GetTool(i)->ToolForm()))
                break;
        return true;
    }
    FocusWindow(ActiveMDIChild());
    return true;
}
