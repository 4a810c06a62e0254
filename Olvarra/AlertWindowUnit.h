#pragma once
// An alert window: shows the alerts of one category in one of eight display kinds.
//
// Alert windows are created once at start-up and live until the process ends: nothing owns
// them, and the main connection has no way to take a listener back. A window that is
// destroyed anyway (tests do it) leaves behind a listener that notices it is gone and does
// nothing.

#include "Olvarra/DisplayKinds.h"
#include "Olvarra/QuickStrikeExcludeList.h"

#include <QByteArray>
#include <QStringList>
#include <QWidget>
#include <memory>

class TAlertGridBase;
class TWexTopListFullGrid;
class TConfigFile;
class TMainConnection;
class QMenu;
class QTimer;
class QAction;

class TAlertForm : public QWidget {
    Q_OBJECT
public:
    // Registers HandleAlertMessage with MainConnection() (FormCreate).
    explicit TAlertForm(QWidget* parent = nullptr);
    // The same, listening on the given connection (a main window that runs with a connection
    // of its own passes it here).
    explicit TAlertForm(TMainConnection& connection, QWidget* parent = nullptr);
    ~TAlertForm() override;

    // Reads section "Alert Window <n>" of the configuration and creates the grid.
    void LoadSettings(const TConfigFile& config, const QByteArray& section);

    void HandleAlertMessage(const QByteArray& body);
    void ClearWindow();
    void ExpireBollingersTimerTimer();

    const QByteArray& GetSubscription() const { return Subscription; }
    const QByteArray& GetSuffix() const { return Suffix; }
    TAlertDisplayKind GetDisplayKind() const { return DisplayKind; }
    // The one grid of the chosen kind (a TDrawGrid subclass), for tests and rendering.
    QWidget* GetGrid() const;

    // The message key of the QuickStrike extra column.
    const QByteArray& GetExtraColumnKey() const;
    // Symbols of the Bollinger rows, sorted ignoring letter case.
    QList<QByteArray> GetBollingerSymbols() const;

    // The kind's own menu: ClearPopup, WexMenu, or none for the other kinds.
    QMenu* GetPopupMenu() const;
    // The menu a right click opens: the kind's own menu, or RowsPopup for the kinds without
    // one. Every one ends with "Copy Rows" and "Save As CSV...".
    QMenu* GetWindowMenu() const;
    QMenu* GetRowsPopup() const { return RowsPopup; }
    QAction* GetCopyRowsAction() const { return CopyRowsAction; }
    QAction* GetSaveAsCsvAction() const { return SaveAsCsvAction; }
    TAlertGridBase* GetAlertGrid() const;

    // "Copy Rows" (also Ctrl+C): the rows shown, or the selected row of the full top list, as
    // tab-separated text with the captions first, onto the clipboard.
    QString CopyRowsText() const;
    void CopyRowsActionExecute();
    // "Save As CSV...": the whole list, asked for a file name.
    void SaveAsCsvActionExecute();
    bool SaveRowsAsCsv(const QString& path, QString* error = nullptr) const;

    // The stale mark follows the main connection's feed state.
    void ShowFeedState();
    QMenu* GetClearPopup() const { return ClearPopup; }
    QMenu* GetWexMenu() const { return WexMenu; }
    QAction* GetClearWindowMenuItem() const { return ClearWindowMenuItem; }
    QAction* GetFreezeAction() const { return FreezeAction; }
    QAction* GetSortNowAction() const { return SortNowAction; }
    QTimer* GetExpireBollingersTimer() const { return ExpireBollingersTimer; }

    // Menu handlers. The Update handlers bring the Freeze check mark and the Sort Now caption
    // and enabled state up to date; they run whenever WexMenu is about to show.
    void ClearWindowMenuItemClick();
    void FreezeActionExecute();
    void FreezeActionUpdate();
    void SortNowActionExecute();
    void SortNowActionUpdate();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void FormCreate(TMainConnection& connection);
    // Names the action and runs its handler under GuardedCall, reported as handlerName.
    void AddGuardedAction(QAction* action, const char* name, const char* handlerName, void (TAlertForm::*handler)());
    TWexTopListFullGrid* TopListGrid() const;

    struct TImpl;
    std::unique_ptr<TImpl> Impl;
    QByteArray Subscription;
    QByteArray Suffix;
    TAlertDisplayKind DisplayKind = dkQuickStrike;

    QTimer* ExpireBollingersTimer = nullptr;
    QMenu* ClearPopup = nullptr;
    QAction* ClearWindowMenuItem = nullptr;
    QMenu* WexMenu = nullptr;
    QAction* FreezeAction = nullptr;
    QAction* SortNowAction = nullptr;
    QMenu* RowsPopup = nullptr;
    QAction* CopyRowsAction = nullptr;
    QAction* SaveAsCsvAction = nullptr;
};
