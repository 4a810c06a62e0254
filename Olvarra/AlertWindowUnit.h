#pragma once
// An alert window: shows the alerts of one category in one of eight display kinds.

#include "Olvarra/AlertRecords.h"

#include <QByteArray>
#include <QStringList>
#include <QWidget>
#include <memory>

class TConfigFile;
class QMenu;
class QTimer;
class QAction;

enum TAlertDisplayKind : quint8 {
    dkQuickStrike = 0,
    dkBollinger = 1,
    dkSymbolOnly = 2,
    dkPointsList = 3,
    dkSimpleList = 4,
    dkRookList = 5,
    dkWexTopList = 6,
    dkTamberList = 7,
};

// The process-wide QuickStrike exclusion list: sorted ignoring letter case, no duplicates
// (letter case ignored); the first spelling added is kept.
class TQuickStrikeExcludeList {
public:
    void Clear() { Items.clear(); }
    void Add(const QByteArray& symbol);
    bool Contains(const QByteArray& symbol) const;
    const QList<QByteArray>& GetItems() const { return Items; }

private:
    QList<QByteArray> Items;
};
TQuickStrikeExcludeList& QuickStrikeExcludeList();

class TAlertForm : public QWidget {
    Q_OBJECT
public:
    // Registers HandleAlertMessage with MainConnection() (FormCreate).
    explicit TAlertForm(QWidget* parent = nullptr);
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

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
    QByteArray Subscription;
    QByteArray Suffix;
    TAlertDisplayKind DisplayKind = dkQuickStrike;
};
