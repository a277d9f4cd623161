// The Network tool window of the main window's dock bar: the configured calculation servers with
// their state, and the commands that add, edit, rename, move, switch and delete them.
//
// Client threads report state changes in their own threads; the window hears of them through a
// posted message and reads the entries only in its own thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "AdvBars.h"
#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Menus.h"
#include "StdCtrls.h"

class TClientConnection;
enum class TClientState : std::uint8_t;
class TNetworkManager;

// The texts of the status lines for an entry: the state, then the time and rate or the error.
struct TConnectionStatusTexts {
    std::string Status;
    // "Time:" and "Pixels/sec:" values, or for an active entry that is not connected the error
    // (ErrorShown).
    std::string Time, Rate, Error;
    bool ErrorShown = false;
};
TConnectionStatusTexts ConnectionStatusTexts(const TClientConnection &Connection, TDateTime Now);

// The image of a row's check button: by the client's state (not connected, connecting, connected,
// calculating) for an active entry, the empty box for an inactive one.
int ConnectionButtonImage(bool Active, TClientState State);

class TNetworkToolForm : public TToolForm {
public:
    DECLARE_CLASS_NAME(TNetworkToolForm)
    // Manager nil: the program's network manager (none outside interactive mode: an empty list).
    explicit TNetworkToolForm(TToolPanel *APanel, TNetworkManager *AManager = nullptr);
    ~TNetworkToolForm() override;

    void RefreshList();
    void UpdateStatus();
    TClientConnection *SelectedConnection();
    // The row whose check button is at a point of the list (client coordinates), or -1.
    int RowButtonAt(int X, int Y);
    void WndProc(TMessage &Message) override;

    TListView *List;
    TButton *AddButton;
    TButton *DeleteButton;
    TLabel *StatusLabel;
    TLabel *TimeLabel;
    TLabel *RateLabel;
    TPopupMenu *PopupMenu;
    TMenuItem *ActiveItem, *AddItem, *DeleteItem, *MoveUpItem, *MoveDownItem, *EditItem, *RenameItem;
    TTimer *Timer;

private:
    void ManagerChanged(TObject *Sender);
    void ConfigChanged(TObject *Sender);
    void ListSelect(TObject *Sender, TListItem *Item, bool Selected);
    void ListEdited(TObject *Sender, TListItem *Item, std::string &Text);
    void ListMouseDown(TObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void ListDragOver(TObject *Sender, TObject *Source, int X, int Y, TDragState State, bool &Accept);
    void ListDragDrop(TObject *Sender, TObject *Source, int X, int Y);
    void DeleteDragOver(TObject *Sender, TObject *Source, int X, int Y, TDragState State, bool &Accept);
    void DeleteDragDrop(TObject *Sender, TObject *Source, int X, int Y);
    void PopupOpening(TObject *Sender);
    void ActiveClick(TObject *Sender);
    void AddClick(TObject *Sender);
    void DeleteClick(TObject *Sender);
    void MoveUpClick(TObject *Sender);
    void MoveDownClick(TObject *Sender);
    void EditClick(TObject *Sender);
    void RenameClick(TObject *Sender);
    void TimerTick(TObject *Sender);
    void UpdateMenu();
    void MoveSelected(int Offset);

    TNetworkManager *FManager;
    std::unique_ptr<TImageList> FButtonImages;
};
