// labels: windows grids
// Taking the rows out of an alert window: "Copy Rows" (and Ctrl+C) as tab-separated text and
// "Save As CSV..." as a file, against a known list in every display kind, with the numbers
// exactly as the cells show them and the server's texts made safe for a spreadsheet.

#include "Olvarra/AlertGridBase.h"
#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/ConfigFile.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/RowExport.h"
#include "Olvarra/WexGridFull.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

std::unique_ptr<TAlertForm> MakeWindow(const QByteArray& lines)
{
    auto window = std::make_unique<TAlertForm>();
    window->GetExpireBollingersTimer()->stop();
    window->setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    window->LoadSettings(TConfigFile::FromText("[Alert Window 0]\nsubscription=c\n" + lines), "Alert Window 0");
    window->resize(393, 480);
    return window;
}

void Send(TAlertForm& window, const QByteArray& fields)
{
    window.HandleAlertMessage("c\r\n" + fields + "\r\n");
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList MenuTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* a : menu->actions())
        texts.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

} // namespace

class TestRowExport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { SetThousandsSeparator(QStringLiteral(",")); }
    void EveryKind_data();
    void EveryKind();
    void CopyTakesTheRowsShown();
    void WexCopiesTheSelectedRow();
    void CtrlCCopies();
    void MenusEndWithTheNewItems();
    void FileIsReplacedWholeOrNotAtAll();
    void HostileTextsStayInTheirCells();
};

void TestRowExport::EveryKind_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QList<QByteArray>>("alerts");
    QTest::addColumn<QString>("tsv");
    QTest::addColumn<QByteArray>("csv");

    // Newest first; a price too wide for its column shows "..." as on screen; a symbol with a
    // comma is quoted in the file only.
    QTest::newRow("quickstrike")
        << QByteArray()
        << QList<QByteArray>{"symbol=IBM&last=101.5&prev_close=100&sma_divergence=0.25&time=09:31:02",
                             "symbol=BIG&last=1234567.5&prev_close=1234567&time=09:31:04",
                             "symbol=T,X&last=9&prev_close=10&time=09:31:05"}
        << QString("Symbol\tLast\tChg\t%Chg\tDivrg\tTime\n"
                   "T,X\t9.00\t-1.00\t-10.00%\t\t09:31:05\n"
                   "BIG\t...\t0.50\t0.00%\t\t09:31:04\n"
                   "IBM\t101.50\t1.50\t1.50%\t0.25\t09:31:02\n")
        << QByteArray("Symbol,Last,Chg,%Chg,Divrg,Time\r\n"
                      "\"T,X\",9.00,-1.00,-10.00%,,09:31:05\r\n"
                      "BIG,...,0.50,0.00%,,09:31:04\r\n"
                      "IBM,101.50,1.50,1.50%,0.25,09:31:02\r\n");
    QTest::newRow("bollinger")
        << QByteArray("display=set\nextra=Dist\n")
        << QList<QByteArray>{"action=add&symbol=MSFT&last=20&prev_close=21&dist_from_bb=2",
                             "action=add&symbol=IBM&last=101.5&prev_close=100&dist_from_bb=-3"}
        << QString("Symbol\tLast\tChg\tDist\nIBM\t101.50\t1.50\t-3.00\nMSFT\t20.00\t-1.00\t2.00\n")
        << QByteArray("Symbol,Last,Chg,Dist\r\nIBM,101.50,1.50,-3.00\r\nMSFT,20.00,-1.00,2.00\r\n");
    QTest::newRow("symbol")
        << QByteArray("display=symbol\n") << QList<QByteArray>{"symbol=A", "symbol=BB"}
        << QString("Symbol\nBB\nA\n") << QByteArray("Symbol\r\nBB\r\nA\r\n");
    QTest::newRow("pointslist")
        << QByteArray("display=pointslist\nvolume=1\n")
        << QList<QByteArray>{"symbol0=X&last0=1&change0=1&symbol1=Y&last1=1&change1=1",
                             "symbol0=IBM&last0=101.5&change0=1.5&percent_vol0=12.5&symbol1=MSFT&last1=20&change1=-1"}
        << QString("Symbol\tLast\tChg\t%Vol\nIBM\t101.50\t1.50\t12.50%\nMSFT\t20.00\t-1.00\t\n")
        << QByteArray("Symbol,Last,Chg,%Vol\r\nIBM,101.50,1.50,12.50%\r\nMSFT,20.00,-1.00,\r\n");
    QTest::newRow("simplelist")
        << QByteArray("display=simplelist\n")
        << QList<QByteArray>{"symbol=IBM&last=101.5&change=1.5", "symbol=MSFT&last=20&change=-1"}
        << QString("Symbol\tLast\tChg\nMSFT\t20.00\t-1.00\nIBM\t101.50\t1.50\n")
        << QByteArray("Symbol,Last,Chg\r\nMSFT,20.00,-1.00\r\nIBM,101.50,1.50\r\n");
    // Grouped counts carry the thousands separator, so the file quotes them.
    QTest::newRow("rook")
        << QByteArray("display=rook-simplelist\n")
        << QList<QByteArray>{"time=09:31&symbol=IBM&change=1.5&volume=2600000&rv=1.25&bb=0.5&count=12"}
        << QString("Time\tSymbol\t%Chg\tVolume\tRV\tBB\t#\n09:31\tIBM\t1.5\t2,600,000\t1.25\t0.50\t12\n")
        << QByteArray("Time,Symbol,%Chg,Volume,RV,BB,#\r\n09:31,IBM,1.5,\"2,600,000\",1.25,0.50,12\r\n");
    QTest::newRow("tamber")
        << QByteArray("display=tamber-simplelist\n")
        << QList<QByteArray>{"time=09:32&symbol=IBM&last=110&prev_close=100&volume=999&count=3"}
        << QString("Time\tSymbol\tLast\t%Chg\t$Chg\tVolume\t#\n09:32\tIBM\t110.0\t10.0\t10.0\t999\t3\n")
        << QByteArray("Time,Symbol,Last,%Chg,$Chg,Volume,#\r\n09:32,IBM,110.0,10.0,10.0,999,3\r\n");
    // The gauge column gives its reading; a "-" row gives the captions it shows.
    QTest::newRow("wex")
        << QByteArray("display=wex\ncolumns=0,1,11,13,8\n")
        << QList<QByteArray>{"symbol0=IBM&price_spike0=7.5&last0=101.5&volume0=1234567&new_high0=0.25"
                             "&symbol1=-&symbol2=MSFT&last2=20"}
        << QString("Symbol\tPrSpk\tLast\tVolume\tH\nIBM\t7.5\t101.50\t1,234,567\t0.25\n"
                   "Symbol\tPrSpk\tLast\tVolume\tH\nMSFT\t\t20.00\t\t\n")
        << QByteArray("Symbol,PrSpk,Last,Volume,H\r\nIBM,7.5,101.50,\"1,234,567\",0.25\r\n"
                      "Symbol,PrSpk,Last,Volume,H\r\nMSFT,,20.00,,\r\n");
}

void TestRowExport::EveryKind()
{
    QFETCH(QByteArray, config);
    QFETCH(QList<QByteArray>, alerts);
    QFETCH(QString, tsv);
    QFETCH(QByteArray, csv);
    auto window = MakeWindow(config);
    window->show();
    for (const QByteArray& alert : alerts)
        Send(*window, alert);
    QCOMPARE(window->CopyRowsText(), tsv);
    QTemporaryDir dir;
    const QString path = dir.filePath("rows.csv");
    QString error;
    QVERIFY2(window->SaveRowsAsCsv(path, &error), qPrintable(error));
    QCOMPARE(ReadFile(path), csv);
}

void TestRowExport::CopyTakesTheRowsShown()
{
    auto window = MakeWindow("display=rook-simplelist\n");
    window->resize(393, 200);
    window->show();
    for (int i = 0; i < 100; ++i)
        Send(*window, "symbol=S" + QByteArray::number(i));
    auto* grid = window->GetAlertGrid();
    const int visible = (grid->viewport()->height() - grid->DefaultRowHeight() + grid->DefaultRowHeight() - 1)
                        / grid->DefaultRowHeight();
    QVERIFY(visible > 2 && visible < 20);
    grid->SetTopRow(11);
    const QStringList lines = window->CopyRowsText().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + visible);
    QCOMPARE(lines[0], QString("Time\tSymbol\t%Chg\tVolume\tRV\tBB\t#"));
    QCOMPARE(lines[1], QString("\tS89\t\t\t\t\t")); // row 11 holds the eleventh newest
    // The file has the whole list.
    QTemporaryDir dir;
    QVERIFY(window->SaveRowsAsCsv(dir.filePath("all.csv")));
    QCOMPARE(ReadFile(dir.filePath("all.csv")).count("\r\n"), 101);
}

void TestRowExport::WexCopiesTheSelectedRow()
{
    auto window = MakeWindow("display=wex\ncolumns=0,11\n");
    window->show();
    Send(*window, "symbol0=IBM&last0=1&symbol1=MSFT&last1=2&symbol2=AAPL&last2=3");
    QCOMPARE(window->CopyRowsText().count('\n'), 4);
    auto* grid = window->GetAlertGrid();
    grid->SetRow(2);
    QCOMPARE(window->CopyRowsText(), QString("Symbol\tLast\nMSFT\t2.00\n"));
    grid->SetRow(-1);
    QCOMPARE(window->CopyRowsText().count('\n'), 4);
}

void TestRowExport::CtrlCCopies()
{
    auto window = MakeWindow("display=simplelist\n");
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    Send(*window, "symbol=IBM&last=1&change=0.5");
    QApplication::clipboard()->clear();
    window->GetGrid()->setFocus();
    QTest::keyClick(window->GetGrid(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString("Symbol\tLast\tChg\nIBM\t1.00\t0.50\n"));
    QCOMPARE(window->GetCopyRowsAction()->shortcut(), QKeySequence(QKeySequence::Copy));
}

void TestRowExport::MenusEndWithTheNewItems()
{
    const QStringList rows{"Copy Rows", "Save As CSV..."};
    auto strike = MakeWindow("");
    QCOMPARE(strike->GetWindowMenu(), strike->GetClearPopup());
    QCOMPARE(MenuTexts(strike->GetWindowMenu()), QStringList({"Clear Window", "-"}) + rows);
    auto wex = MakeWindow("display=wex\n");
    QCOMPARE(MenuTexts(wex->GetWindowMenu()), QStringList({"Freeze", "Sort Now", "-"}) + rows);
    // The kinds without a menu get one with just the new items; their own stays none.
    for (const QByteArray& display : {QByteArray("set"), QByteArray("pointslist"), QByteArray("rook-simplelist"),
                                      QByteArray("tamber-simplelist")}) {
        auto window = MakeWindow("display=" + display + "\n");
        QCOMPARE(window->GetPopupMenu(), nullptr);
        QCOMPARE(window->GetWindowMenu(), window->GetRowsPopup());
        QCOMPARE(MenuTexts(window->GetWindowMenu()), rows);
    }
}

void TestRowExport::FileIsReplacedWholeOrNotAtAll()
{
    auto window = MakeWindow("display=simplelist\n");
    Send(*window, "symbol=IBM&last=1&change=0.5");
    QTemporaryDir dir;
    const QString path = dir.filePath("rows.csv");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'x'));
    old.close();
    QVERIFY(window->SaveRowsAsCsv(path));
    QCOMPARE(ReadFile(path), QByteArray("Symbol,Last,Chg\r\nIBM,1.00,0.50\r\n"));
    // A folder that is not there: a reason, and no file.
    QString error;
    QVERIFY(!window->SaveRowsAsCsv(dir.filePath("missing/rows.csv"), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(dir.filePath("missing/rows.csv")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"rows.csv"});
}

void TestRowExport::HostileTextsStayInTheirCells()
{
    auto window = MakeWindow("display=simplelist\n");
    window->show();
    // Symbols a server could send: a tab, a quote, a line break (form-encoded), a formula.
    Send(*window, "symbol=%3DHYPERLINK(1)&last=1&change=1");
    Send(*window, "symbol=A%09B&last=1&change=1");
    Send(*window, "symbol=Q%22R%0D%0AS&last=1&change=-1");
    Send(*window, "symbol=-2%2B3&last=1&change=-1");
    Send(*window, "symbol=%40SUM(A1)&last=1&change=-1");
    QCOMPARE(window->CopyRowsText(), QString("Symbol\tLast\tChg\n'@SUM(A1)\t1.00\t-1.00\n'-2+3\t1.00\t-1.00\nQ\"R  S\t1.00\t-1.00\n"
                                             "A B\t1.00\t1.00\n'=HYPERLINK(1)\t1.00\t1.00\n"));
    QTemporaryDir dir;
    QVERIFY(window->SaveRowsAsCsv(dir.filePath("h.csv")));
    QCOMPARE(ReadFile(dir.filePath("h.csv")),
             QByteArray("Symbol,Last,Chg\r\n'@SUM(A1),1.00,-1.00\r\n'-2+3,1.00,-1.00\r\n\"Q\"\"R\r\nS\",1.00,-1.00\r\n"
                        "A\tB,1.00,1.00\r\n'=HYPERLINK(1),1.00,1.00\r\n"));
}

QTEST_MAIN(TestRowExport)
#include "tst_rowexport.moc"
