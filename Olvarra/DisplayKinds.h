#pragma once
// One object per display kind of an alert window: it knows its row record, its list rule and
// its grid. The window hands it what arrives (a parsed alert of its category, the one-second
// tick, Clear Window) and asks it which menu it has; the window itself keeps the frame, the
// timer, the menus and the settings.
//
// MakeDisplayKind is the one place that chooses by kind.

#include "Olvarra/AlertGridBase.h"
#include "Shared/UrlEncode.h"

#include <QByteArray>
#include <QList>
#include <memory>

class QWidget;
class TBollingerList;
class TConfigFile;
class TWexTopListFullGrid;

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

// The "display" value of a window's section, compared exactly ("Set" is not "set"); anything
// else is the QuickStrike kind.
TAlertDisplayKind DisplayKindOf(const QByteArray& display);

class TDisplayKind {
public:
    // Which of the window's own menus the kind has.
    enum TMenu { kmNone, kmClear, kmTopList };

    virtual ~TDisplayKind() = default;

    // One alert body from the connection: ignored unless its first line is exactly the
    // window's category; otherwise its field line is read in one pass, keeping only what the
    // kind reads, and goes to HandlePicked or HandleRows.
    void HandleBody(const QByteArray& body, const QByteArray& category);

    // The kind's grid, a child of the window that made the kind.
    virtual TAlertGridBase* Grid() const = 0;
    // The kind's own keys of the window's section, read after the grid exists; color is the
    // window's "color" value, applied where the kind shows it.
    virtual void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor color) = 0;
    // The fields of one alert of the window's category: the keys the kind named with
    // ReadsOnly, or the rows of the columns it named with ReadsRowsOf. Each value is what a
    // table parsed from the whole field line would hold (ParseForm, tHashTable::Get).
    virtual void HandlePicked(const TFormPick& fields);
    virtual void HandleRows(const TNumberedFormPick& rows);
    // The window's one-second tick.
    virtual void Tick(qint64 nowMs) {}
    virtual TMenu Menu() const { return kmNone; }
    // Empties the list (kinds with the Clear menu); an empty list is not handed over again.
    virtual void ClearWindow() {}

    // The message key of the QuickStrike extra column (the other kinds read none).
    virtual const QByteArray& ExtraColumnKey() const;
    // For the full top list's menu; null for the other kinds.
    virtual TWexTopListFullGrid* TopListGrid() const { return nullptr; }
    // For tests: the Bollinger list; null for the other kinds.
    virtual const TBollingerList* BollingerList() const { return nullptr; }

protected:
    // What the kind reads of an alert, said once by each kind: a fixed handful of keys
    // (HandlePicked), or numbered keys as rows (HandleRows). Building a table of every field
    // and looking a few of them up cost more than the rest of an alert's reading.
    void ReadsOnly(std::vector<QByteArray> keys);
    void ReadsRowsOf(std::vector<QByteArray> columns);

private:
    template <class TPick>
    void Read(const QByteArray& fieldList, TPick& pick);
    void Handle(const TFormPick& fields) { HandlePicked(fields); }
    void Handle(const TNumberedFormPick& rows) { HandleRows(rows); }

    // The alert being handled, one of them for each window, emptied after each alert but
    // keeping its storage, so a steady stream reads without allocating.
    std::unique_ptr<TFormPick> Picked;
    std::unique_ptr<TNumberedFormPick> Rows;
    bool InUse = false;
};

// The kind's object with its grid, made a child of owner.
std::unique_ptr<TDisplayKind> MakeDisplayKind(TAlertDisplayKind kind, QWidget* owner);
