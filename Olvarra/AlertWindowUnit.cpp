#include "Olvarra/AlertWindowUnit.h"

#include "Olvarra/BollingerGrid.h"
#include "Olvarra/ConfigFile.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Platform/NumberText.h"
#include "Olvarra/PointsTopListGrid.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/RowExport.h"
#include "Olvarra/SymbolOnlyGrid.h"
#include "Olvarra/TamberGrid.h"
#include "Olvarra/WexGridFull.h"
#include "Platform/Clock.h"
#include "Platform/VeskError.h"
#include "Shared/MiscDebugWindows.h"
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <set>

namespace {

// The newest-first kinds keep at most this many rows; Rook and Tamber keep every row.
constexpr qsizetype RowCap = 1000;
// A Bollinger row lives this long after its last "add".
constexpr qint64 BollingerLifeMs = 2 * 60 * 1000;
constexpr TColor DefaultColor = 16777215; // white

int CompareIgnoringCase(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive);
}

struct TCaseInsensitiveLess {
    bool operator()(const QByteArray& a, const QByteArray& b) const { return CompareIgnoringCase(a, b) < 0; }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// The exclusion list

void TQuickStrikeExcludeList::Add(const QByteArray& symbol)
{
    const auto at = std::lower_bound(Items.begin(), Items.end(), symbol, TCaseInsensitiveLess());
    if (at != Items.end() && CompareIgnoringCase(*at, symbol) == 0)
        return; // the spelling added first stays
    Items.insert(at, symbol);
}

bool TQuickStrikeExcludeList::Contains(const QByteArray& symbol) const
{
    const auto at = std::lower_bound(Items.begin(), Items.end(), symbol, TCaseInsensitiveLess());
    return at != Items.end() && CompareIgnoringCase(*at, symbol) == 0;
}

TQuickStrikeExcludeList& QuickStrikeExcludeList()
{
    static TQuickStrikeExcludeList list;
    return list;
}

// ---------------------------------------------------------------------------------------------
// The window

struct TAlertForm::TImpl {
    // Only the grid of the chosen kind exists; Grid points at it whatever its class.
    TAlertGridBase* Grid = nullptr;
    QPointer<TMainConnection> Connection;
    TQuickStrikeGrid* QuickStrikeGrid = nullptr;
    TBollingerGrid* BollingerGrid = nullptr;
    TSymbolOnlyGrid* SymbolOnlyGrid = nullptr;
    TPointsTopListGrid* PointsGrid = nullptr;
    TRookGrid* RookGrid = nullptr;
    TTamberGrid* TamberGrid = nullptr;
    TWexTopListFullGrid* WexGrid = nullptr;

    // The newest-first lists hand the grid an O(1) snapshot per alert, so the cost of an
    // alert does not grow with the rows kept (Rook and Tamber keep every row of the day).
    TFrontInsertList<TQuickStrikeEntry> QuickStrikeEntries{RowCap}; // QuickStrike, symbol-only
    TFrontInsertList<TPointsTopListEntry> SimpleListEntries{RowCap};
    TFrontInsertList<TRookEntry> RookEntries{0};
    TFrontInsertList<TTamberEntry> TamberEntries{0};
    // One row per symbol, kept in order; small (only symbols alerted in the last 2 minutes).
    std::vector<TBollingerEntry> BollingerEntries;
    std::set<QByteArray, TCaseInsensitiveLess> BollingerSymbols;

    TColor Color = DefaultColor;
};

TAlertForm::TAlertForm(QWidget* parent) : TAlertForm(MainConnection(), parent)
{
}

TAlertForm::TAlertForm(TMainConnection& connection, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      Impl(std::make_unique<TImpl>())
{
    // Closing only hides the window (no delete on close): its alerts keep arriving. Nor does
    // closing the last visible alert window end the program; only the main window does.
    setAttribute(Qt::WA_QuitOnClose, false);
    move(36, 36);
    resize(393, 480);
    setWindowTitle(QStringLiteral("Alerts"));

    ExpireBollingersTimer = new QTimer(this);
    ExpireBollingersTimer->setObjectName(QStringLiteral("ExpireBollingersTimer"));
    ExpireBollingersTimer->setInterval(1000);
    connect(ExpireBollingersTimer, &QTimer::timeout, this, [this]() {
        GuardedCall(QStringLiteral("AlertWindowUnit, TAlertForm.ExpireBollingersTimerTimer"), [this]() { ExpireBollingersTimerTimer(); });
    });
    ExpireBollingersTimer->start();

    ClearPopup = new QMenu(this);
    ClearPopup->setObjectName(QStringLiteral("ClearPopup"));
    ClearWindowMenuItem = ClearPopup->addAction(QStringLiteral("Clear Window"));
    ClearWindowMenuItem->setObjectName(QStringLiteral("ClearWindowMenuItem"));
    connect(ClearWindowMenuItem, &QAction::triggered, this, [this]() {
        GuardedCall(QStringLiteral("AlertWindowUnit, TAlertForm.ClearWindowMenuItemClick"), [this]() { ClearWindowMenuItemClick(); });
    });

    WexMenu = new QMenu(this);
    WexMenu->setObjectName(QStringLiteral("WexMenu"));
    FreezeAction = WexMenu->addAction(QStringLiteral("Freeze"));
    FreezeAction->setObjectName(QStringLiteral("FreezeAction"));
    FreezeAction->setCheckable(true);
    SortNowAction = WexMenu->addAction(QStringLiteral("Sort Now"));
    SortNowAction->setObjectName(QStringLiteral("SortNowAction"));
    connect(FreezeAction, &QAction::triggered, this, [this]() {
        GuardedCall(QStringLiteral("AlertWindowUnit, TAlertForm.FreezeActionExecute"), [this]() { FreezeActionExecute(); });
    });
    connect(SortNowAction, &QAction::triggered, this, [this]() {
        GuardedCall(QStringLiteral("AlertWindowUnit, TAlertForm.SortNowActionExecute"), [this]() { SortNowActionExecute(); });
    });
    // The check mark and the Sort Now caption follow the grid; bringing them up to date just
    // before the menu shows is all the user can see of them.
    connect(WexMenu, &QMenu::aboutToShow, this, [this]() {
        GuardedCall(QStringLiteral("AlertWindowUnit, TAlertForm.WexMenu"), [this]() {
            FreezeActionUpdate();
            SortNowActionUpdate();
        });
    });

    // Taking the rows out: at the end of the kind's own menu, or in a menu of their own.
    RowsPopup = new QMenu(this);
    RowsPopup->setObjectName(QStringLiteral("RowsPopup"));
    CopyRowsAction = new QAction(QStringLiteral("Copy Rows"), this);
    CopyRowsAction->setObjectName(QStringLiteral("CopyRowsAction"));
    CopyRowsAction->setShortcut(QKeySequence::Copy);
    CopyRowsAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(CopyRowsAction); // Ctrl+C anywhere in the window
    SaveAsCsvAction = new QAction(QStringLiteral("Save As CSV..."), this);
    SaveAsCsvAction->setObjectName(QStringLiteral("SaveAsCsvAction"));
    connect(CopyRowsAction, &QAction::triggered, this, [this]() {
        GuardedCall(QStringLiteral("AlertWindowUnit, TAlertForm.CopyRowsActionExecute"), [this]() { CopyRowsActionExecute(); });
    });
    connect(SaveAsCsvAction, &QAction::triggered, this, [this]() {
        GuardedCall(QStringLiteral("AlertWindowUnit, TAlertForm.SaveAsCsvActionExecute"), [this]() { SaveAsCsvActionExecute(); });
    });

    FormCreate(connection);
}

// Nothing to check here: windows are meant to live for the whole process, but a destroyed
// one is harmless, because its listener holds only a guarded pointer to it.
TAlertForm::~TAlertForm() = default;

void TAlertForm::FormCreate(TMainConnection& connection)
{
    QPointer<TAlertForm> self(this);
    connection.AddAlertListener([self](const QByteArray& body) {
        if (self)
            self->HandleAlertMessage(body);
    });
    Impl->Connection = &connection;
    connect(&connection, &TMainConnection::FeedStateChanged, this, [this]() {
        GuardedCall(QStringLiteral("AlertWindowUnit, TAlertForm.ShowFeedState"), [this]() { ShowFeedState(); });
    });
}

void TAlertForm::ShowFeedState()
{
    if (Impl->Grid && Impl->Connection)
        Impl->Grid->SetStaleMark(StaleMarkText(Impl->Connection->GetFeedState()));
}

QWidget* TAlertForm::GetGrid() const
{
    return Impl->Grid;
}

TAlertGridBase* TAlertForm::GetAlertGrid() const
{
    return Impl->Grid;
}

QList<QByteArray> TAlertForm::GetBollingerSymbols() const
{
    return QList<QByteArray>(Impl->BollingerSymbols.begin(), Impl->BollingerSymbols.end());
}

QMenu* TAlertForm::GetPopupMenu() const
{
    switch (DisplayKind) {
    case dkQuickStrike:
    case dkSymbolOnly:
    case dkSimpleList:
        return Impl->Grid ? ClearPopup : nullptr;
    case dkWexTopList:
        return Impl->WexGrid ? WexMenu : nullptr;
    default:
        return nullptr;
    }
}

QMenu* TAlertForm::GetWindowMenu() const
{
    if (QMenu* own = GetPopupMenu())
        return own;
    return Impl->Grid ? RowsPopup : nullptr;
}

void TAlertForm::LoadSettings(const TConfigFile& config, const QByteArray& section)
{
    VESK_ASSERT_MSG(!Impl->Grid, "An alert window is configured once.");
    TImpl& d = *Impl;

    Subscription = config.ReadString(section, "subscription");
    Suffix = config.ReadString(section, "suffix");
    setWindowTitle(QString::fromLatin1(config.ReadString(section, "title", "Alerts")));
    // Red in the low byte, then green, then blue: the grids take exactly this layout.
    d.Color = TColor(WholeNumber(config.ReadString(section, "color"), qint32(DefaultColor))) & 0xFFFFFF;
    const QByteArray display = config.ReadString(section, "display");

    // Compared exactly: "Set" is not "set".
    TAlertDisplayKind kind = dkQuickStrike;
    if (display == "set")
        kind = dkBollinger;
    else if (display == "symbol")
        kind = dkSymbolOnly;
    else if (display == "pointslist")
        kind = dkPointsList;
    else if (display == "wex")
        kind = dkWexTopList;
    else if (display == "rook-simplelist")
        kind = dkRookList;
    else if (display == "tamber-simplelist")
        kind = dkTamberList;
    else if (display == "simplelist")
        kind = dkSimpleList;

    switch (kind) {
    case dkQuickStrike:
        d.Grid = d.QuickStrikeGrid = new TQuickStrikeGrid(this);
        break;
    case dkBollinger:
        d.BollingerEntries.clear();
        d.BollingerSymbols.clear();
        d.Grid = d.BollingerGrid = new TBollingerGrid(this);
        break;
    case dkSymbolOnly:
        d.Grid = d.SymbolOnlyGrid = new TSymbolOnlyGrid(this);
        break;
    case dkPointsList:
    case dkSimpleList:
        d.Grid = d.PointsGrid = new TPointsTopListGrid(this);
        break;
    case dkRookList:
        d.Grid = d.RookGrid = new TRookGrid(this);
        break;
    case dkWexTopList:
        d.Grid = d.WexGrid = new TWexTopListFullGrid(this);
        break;
    case dkTamberList:
        d.Grid = d.TamberGrid = new TTamberGrid(this);
        break;
    }
    d.Grid->setGeometry(rect());
    d.Grid->show();
    DisplayKind = kind;
    // The new items go at the end, after what the kind's menu has always held.
    if (QMenu* own = GetPopupMenu())
        own->addSeparator();
    GetWindowMenu()->addAction(CopyRowsAction);
    GetWindowMenu()->addAction(SaveAsCsvAction);
    ShowFeedState();

    switch (kind) {
    case dkBollinger: {
        const QByteArray extra = config.ReadString(section, "extra");
        if (!extra.isEmpty())
            d.BollingerGrid->SetExtraColumnTitle(extra);
        break;
    }
    case dkSymbolOnly:
        d.SymbolOnlyGrid->SetTextColor(d.Color);
        break;
    case dkPointsList:
        d.PointsGrid->SetTextColor(d.Color);
        if (config.ReadFlag(section, "volume"))
            d.PointsGrid->ShowVolumeColumn();
        break;
    case dkWexTopList:
        d.WexGrid->SetColumns(config.ReadString(section, "columns"));
        d.WexGrid->SetIgnoreSortTimer(config.ReadFlag(section, "ignore_sort_timer"));
        break;
    case dkRookList:
        d.RookGrid->SetTextColor(d.Color);
        break;
    case dkTamberList:
        d.TamberGrid->SetTextColor(d.Color);
        break;
    case dkSimpleList:
        d.PointsGrid->SetTextColor(d.Color);
        break;
    case dkQuickStrike:
        d.QuickStrikeGrid->SetExtraColumnTitle(config.ReadString(section, "extra_column_visible_name"));
        d.QuickStrikeGrid->SetExtraColumnFormat(config.ReadString(section, "extra_column_format"));
        ExtraColumnKey = config.ReadString(section, "extra_column_internal_name", "sma_divergence");
        d.QuickStrikeGrid->SetTextColor(d.Color);
        break;
    }
}

bool TAlertForm::IsOwnCategory(const QByteArray& body) const
{
    // Line 1 equals Subscription exactly: the body starts with it and the line ends right
    // there. This looks at no more bytes than Subscription has, so windows of other
    // categories spend next to nothing on a message. (A configured value never holds a line
    // break, so a match cannot span one.)
    const qsizetype n = Subscription.size();
    if (!body.startsWith(Subscription))
        return false;
    return body.size() == n || (body.size() >= n + 2 && body[n] == '\r' && body[n + 1] == '\n');
}

void TAlertForm::HandleAlertMessage(const QByteArray& body)
{
    if (!Impl->Grid || !IsOwnCategory(body))
        return; // an unconfigured window shows nothing
    const qsizetype start = Subscription.size() + 2;
    // The field line is read in place: a view into the body, which outlives the parse (the
    // table holds decoded copies), so a large alert is not copied once more.
    QByteArray fieldList;
    if (start <= body.size()) {
        const qsizetype end = body.indexOf("\r\n", start);
        const qsizetype length = (end < 0 ? body.size() : end) - start;
        fieldList = QByteArray::fromRawData(body.constData() + start, length);
    }
    tHashTable fields;
    ParseForm(fieldList, fields);
    HandleFields(fields);
}

void TAlertForm::HandleFields(const tHashTable& fields)
{
    TImpl& d = *Impl;
    switch (DisplayKind) {
    case dkQuickStrike:
        if (QuickStrikeExcludeList().Contains(GetText(fields, "symbol")))
            return;
        d.QuickStrikeEntries.InsertAtFront(ReadQuickStrikeEntry(fields, ExtraColumnKey));
        d.QuickStrikeGrid->SetEntries(d.QuickStrikeEntries.Snapshot());
        break;
    case dkSymbolOnly:
        d.QuickStrikeEntries.InsertAtFront(ReadQuickStrikeEntry(fields, "sma_divergence"));
        d.SymbolOnlyGrid->SetEntries(d.QuickStrikeEntries.Snapshot());
        break;
    case dkSimpleList:
        d.SimpleListEntries.InsertAtFront(ReadSimpleListEntry(fields));
        d.PointsGrid->SetEntries(d.SimpleListEntries.Snapshot());
        break;
    case dkRookList:
        d.RookEntries.InsertAtFront(ReadRookEntry(fields));
        d.RookGrid->SetEntries(d.RookEntries.Snapshot());
        break;
    case dkTamberList:
        d.TamberEntries.InsertAtFront(ReadTamberEntry(fields));
        d.TamberGrid->SetEntries(d.TamberEntries.Snapshot());
        break;
    case dkPointsList:
        d.PointsGrid->SetEntries(TPointsTopListEntries::FromVector(ReadPointsTopList(fields)));
        break;
    case dkWexTopList:
        d.WexGrid->SetEntries(ReadWexTopList(fields));
        break;
    case dkBollinger:
        BollingerUpdate(fields);
        break;
    }
}

void TAlertForm::BollingerUpdate(const tHashTable& fields)
{
    TImpl& d = *Impl;
    std::vector<TBollingerEntry>& rows = d.BollingerEntries;
    const TBollingerEntry entry = ReadBollingerEntry(fields);

    // The case-insensitive set answers "never seen" without a scan; the row itself is found
    // by its exact spelling.
    qsizetype p = -1;
    if (d.BollingerSymbols.count(entry.Symbol)) {
        for (qsizetype i = 0; i < qsizetype(rows.size()); ++i) {
            if (rows[size_t(i)].Symbol == entry.Symbol) {
                p = i;
                break;
            }
        }
    }

    const QByteArray action = GetText(fields, "action");
    if (action == "add") {
        d.BollingerSymbols.insert(entry.Symbol);
        if (p == -1) {
            rows.push_back(entry);
            p = qsizetype(rows.size()) - 1;
        }
        // Ordered by distance, largest first, equal distances by symbol. A missing distance
        // stops the scan, so a row without one is never passed by a later row.
        const double dist = std::fabs(entry.DistFromBB);
        qsizetype t = qsizetype(rows.size());
        for (qsizetype i = 0; i < qsizetype(rows.size()); ++i) {
            const TBollingerEntry& row = rows[size_t(i)];
            const double e = std::fabs(row.DistFromBB);
            if (std::isnan(dist) || std::isnan(e) || (e == dist && row.Symbol >= entry.Symbol) || e < dist) {
                t = i;
                break;
            }
        }
        const auto at = [&](qsizetype i) { return rows.begin() + i; };
        if (t > p) {
            // Rows p + 1 .. t - 1 move up; the new record goes to t - 1.
            std::rotate(at(p), at(p + 1), at(t));
            rows[size_t(t - 1)] = entry;
        } else if (t < p) {
            // Rows t .. p - 1 move down; the new record goes to t.
            std::rotate(at(t), at(p), at(p + 1));
            rows[size_t(t)] = entry;
        } else {
            rows[size_t(p)] = entry;
        }
    } else if (action == "delete") {
        if (p == -1)
            return; // nothing to remove, nothing to repaint
        d.BollingerSymbols.erase(entry.Symbol);
        rows.erase(rows.begin() + p);
    }
    d.BollingerGrid->SetEntries(TBollingerEntries::FromVector(rows));
}

void TAlertForm::ExpireBollingersTimerTimer()
{
    TImpl& d = *Impl;
    const qint64 now = Clock().MonotonicMs();
    if (DisplayKind == dkBollinger && d.BollingerGrid) {
        d.BollingerSymbols.clear();
        std::vector<TBollingerEntry> kept;
        kept.reserve(d.BollingerEntries.size());
        for (const TBollingerEntry& row : d.BollingerEntries) {
            if (row.Received + BollingerLifeMs > now) {
                kept.push_back(row);
                d.BollingerSymbols.insert(row.Symbol);
            }
        }
        // Most ticks expire nothing: those leave the grid alone.
        if (kept.size() < d.BollingerEntries.size()) {
            d.BollingerEntries = std::move(kept);
            d.BollingerGrid->SetEntries(TBollingerEntries::FromVector(d.BollingerEntries));
        }
    }
    if (d.WexGrid)
        d.WexGrid->SortTimerTick();
}

void TAlertForm::ClearWindow()
{
    TImpl& d = *Impl;
    switch (DisplayKind) {
    case dkQuickStrike:
    case dkSymbolOnly:
        if (!d.Grid || d.QuickStrikeEntries.isEmpty())
            return;
        d.QuickStrikeEntries.Clear();
        if (d.QuickStrikeGrid)
            d.QuickStrikeGrid->SetEntries(d.QuickStrikeEntries.Snapshot());
        else
            d.SymbolOnlyGrid->SetEntries(d.QuickStrikeEntries.Snapshot());
        break;
    case dkSimpleList:
        if (!d.Grid || d.SimpleListEntries.isEmpty())
            return;
        d.SimpleListEntries.Clear();
        d.PointsGrid->SetEntries(d.SimpleListEntries.Snapshot());
        break;
    default:
        break; // the other kinds have no Clear Window
    }
}

void TAlertForm::ClearWindowMenuItemClick()
{
    ClearWindow();
}

void TAlertForm::FreezeActionExecute()
{
    // The check mark is kept equal to the grid's state, so its opposite is the grid's.
    if (Impl->WexGrid) {
        Impl->WexGrid->SetFrozen(!Impl->WexGrid->GetFrozen());
        FreezeActionUpdate();
    }
}

void TAlertForm::FreezeActionUpdate()
{
    if (Impl->WexGrid)
        FreezeAction->setChecked(Impl->WexGrid->GetFrozen());
}

void TAlertForm::SortNowActionExecute()
{
    if (Impl->WexGrid) {
        Impl->WexGrid->SortNow();
        SortNowActionUpdate();
    }
}

void TAlertForm::SortNowActionUpdate()
{
    if (!Impl->WexGrid)
        return;
    SortNowAction->setEnabled(Impl->WexGrid->GetSortPending());
    const QByteArray& missing = Impl->WexGrid->GetMissingText();
    // "&" in a menu text marks a shortcut letter; a symbol such as T&E must show as written.
    QString names = QString::fromLatin1(missing);
    names.replace(QLatin1Char('&'), QStringLiteral("&&"));
    SortNowAction->setText(missing.isEmpty() ? QStringLiteral("Sort Now")
                                             : QStringLiteral("Sort Now (") + names + QStringLiteral(" missing)"));
}

QString TAlertForm::CopyRowsText() const
{
    return Impl->Grid ? TabSeparatedText(Impl->Grid->ExportShown()) : QString();
}

void TAlertForm::CopyRowsActionExecute()
{
    if (Impl->Grid)
        QApplication::clipboard()->setText(CopyRowsText());
}

bool TAlertForm::SaveRowsAsCsv(const QString& path, QString* error) const
{
    if (!Impl->Grid) {
        if (error)
            *error = QStringLiteral("The window shows no list.");
        return false;
    }
    return WriteCsvFile(path, Impl->Grid->ExportAll(), error);
}

void TAlertForm::SaveAsCsvActionExecute()
{
    if (!Impl->Grid)
        return;
    // The caption as a proposed name, without what a file name cannot hold.
    QString name = windowTitle();
    static const QString unsafe = QStringLiteral("/\\:*?\"<>|");
    for (QChar& c : name)
        if (unsafe.contains(c) || c.unicode() < 32)
            c = QLatin1Char('_');
    if (name.trimmed().isEmpty())
        name = QStringLiteral("Alerts");
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save As CSV"),
                                                      QDir::current().filePath(name + QStringLiteral(".csv")),
                                                      QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!SaveRowsAsCsv(path, &error))
        QMessageBox::warning(this, QStringLiteral("Save As CSV"),
                             QStringLiteral("Could not save %1: %2").arg(QDir::toNativeSeparators(path), error));
}

void TAlertForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (Impl->Grid)
        Impl->Grid->setGeometry(rect());
}

void TAlertForm::contextMenuEvent(QContextMenuEvent* event)
{
    // A right click on the grid arrives here too: the grid leaves context menus to its window.
    QMenu* menu = GetWindowMenu();
    if (!menu) {
        event->ignore();
        return;
    }
    event->accept();
    menu->popup(event->globalPos());
}
