#include "Olvarra/AlertWindowUnit.h"

#include "Olvarra/BollingerList.h"
#include "Olvarra/ConfigFile.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Olvarra/RowExport.h"
#include "Olvarra/WexGridFull.h"
#include "Platform/NumberText.h"
#include "Platform/Clock.h"
#include "Platform/VeskError.h"
#include "Shared/MiscDebugWindows.h"

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

namespace {

constexpr TColor DefaultColor = 16777215; // white

} // namespace

struct TAlertForm::TImpl {
    // Made by LoadSettings; until then the window shows nothing.
    std::unique_ptr<TDisplayKind> Kind;
    QPointer<TMainConnection> Connection;
};

TAlertForm::TAlertForm(QWidget* parent) : TAlertForm(MainConnection(), parent) {}

void TAlertForm::AddGuardedAction(QAction* action, const char* name, const char* handlerName,
                                  void (TAlertForm::*handler)())
{
    action->setObjectName(QString::fromLatin1(name));
    const QString location = QStringLiteral("AlertWindowUnit, TAlertForm.") + QString::fromLatin1(handlerName);
    connect(action, &QAction::triggered, this, [this, location, handler]() {
        GuardedCall(location, [this, handler]() { (this->*handler)(); });
    });
}

TWexTopListFullGrid* TAlertForm::TopListGrid() const
{
    return Impl->Kind ? Impl->Kind->TopListGrid() : nullptr;
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
    AddGuardedAction(ClearWindowMenuItem, "ClearWindowMenuItem", "ClearWindowMenuItemClick",
                     &TAlertForm::ClearWindowMenuItemClick);

    WexMenu = new QMenu(this);
    WexMenu->setObjectName(QStringLiteral("WexMenu"));
    FreezeAction = WexMenu->addAction(QStringLiteral("Freeze"));
    FreezeAction->setCheckable(true);
    AddGuardedAction(FreezeAction, "FreezeAction", "FreezeActionExecute", &TAlertForm::FreezeActionExecute);
    SortNowAction = WexMenu->addAction(QStringLiteral("Sort Now"));
    AddGuardedAction(SortNowAction, "SortNowAction", "SortNowActionExecute", &TAlertForm::SortNowActionExecute);
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
    CopyRowsAction->setShortcut(QKeySequence::Copy);
    CopyRowsAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(CopyRowsAction); // Ctrl+C anywhere in the window
    AddGuardedAction(CopyRowsAction, "CopyRowsAction", "CopyRowsActionExecute", &TAlertForm::CopyRowsActionExecute);
    SaveAsCsvAction = new QAction(QStringLiteral("Save As CSV..."), this);
    AddGuardedAction(SaveAsCsvAction, "SaveAsCsvAction", "SaveAsCsvActionExecute", &TAlertForm::SaveAsCsvActionExecute);

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
    if (Impl->Kind && Impl->Connection)
        Impl->Kind->Grid()->SetStaleMark(StaleMarkText(Impl->Connection->GetFeedState()));
}

QWidget* TAlertForm::GetGrid() const
{
    return GetAlertGrid();
}

TAlertGridBase* TAlertForm::GetAlertGrid() const
{
    return Impl->Kind ? Impl->Kind->Grid() : nullptr;
}

const QByteArray& TAlertForm::GetExtraColumnKey() const
{
    static const QByteArray unconfigured = "sma_divergence";
    return Impl->Kind ? Impl->Kind->ExtraColumnKey() : unconfigured;
}

QList<QByteArray> TAlertForm::GetBollingerSymbols() const
{
    const TBollingerList* list = Impl->Kind ? Impl->Kind->BollingerList() : nullptr;
    return list ? list->Symbols() : QList<QByteArray>();
}

QMenu* TAlertForm::GetPopupMenu() const
{
    switch (Impl->Kind ? Impl->Kind->Menu() : TDisplayKind::kmNone) {
    case TDisplayKind::kmClear:
        return ClearPopup;
    case TDisplayKind::kmTopList:
        return WexMenu;
    case TDisplayKind::kmNone:
        break;
    }
    return nullptr;
}

QMenu* TAlertForm::GetWindowMenu() const
{
    if (QMenu* own = GetPopupMenu())
        return own;
    return Impl->Kind ? RowsPopup : nullptr;
}

void TAlertForm::LoadSettings(const TConfigFile& config, const QByteArray& section)
{
    VESK_ASSERT_MSG(!Impl->Kind, "An alert window is configured once.");

    Subscription = config.ReadString(section, "subscription");
    Suffix = config.ReadString(section, "suffix");
    setWindowTitle(QString::fromLatin1(config.ReadString(section, "title", "Alerts")));
    // Red in the low byte, then green, then blue: the grids take exactly this layout.
    const TColor color = TColor(WholeNumber(config.ReadString(section, "color"), qint32(DefaultColor))) & 0xFFFFFF;
    DisplayKind = DisplayKindOf(config.ReadString(section, "display"));

    Impl->Kind = MakeDisplayKind(DisplayKind, this);
    TAlertGridBase* grid = Impl->Kind->Grid();
    grid->setGeometry(rect());
    grid->show();
    // The new items go at the end, after what the kind's menu has always held.
    if (QMenu* own = GetPopupMenu())
        own->addSeparator();
    GetWindowMenu()->addAction(CopyRowsAction);
    GetWindowMenu()->addAction(SaveAsCsvAction);
    ShowFeedState();
    Impl->Kind->LoadSettings(config, section, color);
}

void TAlertForm::HandleAlertMessage(const QByteArray& body)
{
    if (Impl->Kind) // an unconfigured window shows nothing
        Impl->Kind->HandleBody(body, Subscription);
}

void TAlertForm::ExpireBollingersTimerTimer()
{
    if (Impl->Kind)
        Impl->Kind->Tick(Clock().MonotonicMs());
}

void TAlertForm::ClearWindow()
{
    if (Impl->Kind)
        Impl->Kind->ClearWindow();
}

void TAlertForm::ClearWindowMenuItemClick() { ClearWindow(); }

void TAlertForm::FreezeActionExecute()
{
    // The check mark is kept equal to the grid's state, so its opposite is the grid's.
    if (TWexTopListFullGrid* grid = TopListGrid()) {
        grid->SetFrozen(!grid->GetFrozen());
        FreezeActionUpdate();
    }
}

void TAlertForm::FreezeActionUpdate()
{
    if (TWexTopListFullGrid* grid = TopListGrid())
        FreezeAction->setChecked(grid->GetFrozen());
}

void TAlertForm::SortNowActionExecute()
{
    if (TWexTopListFullGrid* grid = TopListGrid()) {
        grid->SortNow();
        SortNowActionUpdate();
    }
}

void TAlertForm::SortNowActionUpdate()
{
    TWexTopListFullGrid* grid = TopListGrid();
    if (!grid)
        return;
    SortNowAction->setEnabled(grid->GetSortPending());
    const QByteArray& missing = grid->GetMissingText();
    // "&" in a menu text marks a shortcut letter; a symbol such as T&E must show as written.
    QString names = QString::fromLatin1(missing);
    names.replace(QLatin1Char('&'), QStringLiteral("&&"));
    SortNowAction->setText(missing.isEmpty() ? QStringLiteral("Sort Now")
                                             : QStringLiteral("Sort Now (") + names + QStringLiteral(" missing)"));
}

QString TAlertForm::CopyRowsText() const
{
    return GetAlertGrid() ? TabSeparatedText(GetAlertGrid()->ExportShown()) : QString();
}

void TAlertForm::CopyRowsActionExecute()
{
    if (GetAlertGrid())
        QApplication::clipboard()->setText(CopyRowsText());
}

bool TAlertForm::SaveRowsAsCsv(const QString& path, QString* error) const
{
    if (!GetAlertGrid()) {
        if (error)
            *error = QStringLiteral("The window shows no list.");
        return false;
    }
    return WriteCsvFile(path, GetAlertGrid()->ExportAll(), error);
}

void TAlertForm::SaveAsCsvActionExecute()
{
    if (!GetAlertGrid())
        return;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save As CSV"),
                                                      QDir::current().filePath(ProposedCsvName(windowTitle())),
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
    if (GetAlertGrid())
        GetAlertGrid()->setGeometry(rect());
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
