// labels: shell
// The QuickStrike exclusion dialog through its real modal run: Update replaces the list,
// Cancel discards the edits, and the memo always comes back as the list shows it.

#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/QuickstrikeExclude.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

// Types into the memo and presses a button once the dialog runs its own loop.
void RunDialog(TQuickstrikeExcludeForm& form, TQuickStrikeExcludeList& list, const QString& typed, QPushButton* button)
{
    QTimer::singleShot(0, &form, [&form, typed, button] {
        QVERIFY(form.isVisible());
        form.SymbolsMemo->setPlainText(typed);
        QTest::mouseClick(button, Qt::LeftButton);
    });
    QuickStrikeButtonClick(form, list);
}

QList<QByteArray> Items(const TQuickStrikeExcludeList& list)
{
    return list.GetItems();
}

} // namespace

class TestQuickstrikeExclude : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dialogLooksAsDesigned()
    {
        TQuickstrikeExcludeForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Quickstrike Exclude"));
        QCOMPARE(form.size(), QSize(181, 335));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.OKButton->text(), QStringLiteral("Update"));
        QVERIFY(form.OKButton->isDefault());
        QCOMPARE(form.CancelButton->text(), QStringLiteral("Cancel"));
        QCOMPARE(form.SymbolsMemo->geometry(), QRect(0, 0, 181, 297));
    }

    void updateReplacesCancelDiscards()
    {
        TQuickstrikeExcludeForm form;
        TQuickStrikeExcludeList list;
        list.Add("OLD");

        RunDialog(form, list, QStringLiteral("msft\nIBM\nMSFT\n\n"), form.OKButton);
        QCOMPARE(Items(list), (QList<QByteArray> {"IBM", "msft"}));
        QCOMPARE(form.SymbolsMemo->toPlainText(), QStringLiteral("IBM\nmsft"));

        RunDialog(form, list, QStringLiteral("AAPL\n"), form.CancelButton);
        QCOMPARE(Items(list), (QList<QByteArray> {"IBM", "msft"}));
        QCOMPARE(form.SymbolsMemo->toPlainText(), QStringLiteral("IBM\nmsft"));

        // Blanks around a symbol would keep it from ever matching; Windows line ends too.
        RunDialog(form, list, QStringLiteral(" tsla \r\n\t\r\nIBM"), form.OKButton);
        QCOMPARE(Items(list), (QList<QByteArray> {"IBM", "tsla"}));

        RunDialog(form, list, QString(), form.OKButton);
        QVERIFY(list.GetItems().isEmpty());
        QCOMPARE(form.SymbolsMemo->toPlainText(), QString());
    }
};

QTEST_MAIN(TestQuickstrikeExclude)
#include "tst_quickstrikeexclude.moc"
