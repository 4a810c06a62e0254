// labels: shell
// The Fake Data window: when it shows itself, what Send hands to the alert listeners, what a
// duplicate carries over, and the sound delay it holds.

#include "Olvarra/ConfigFile.h"
#include "Olvarra/FakeDataUnit.h"
#include "Olvarra/MainConnectionUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace {

// The main connection lives for the whole process and keeps its listeners: one for all tests.
QList<QByteArray>& Received()
{
    static QList<QByteArray> received;
    return received;
}

TFakeDataForm* NewStartForm(const QByteArray& configText = "[General]\ndebug=1\n")
{
    return new TFakeDataForm(TConfigFile::FromText(configText));
}

void CloseAndWait(QPointer<TFakeDataForm> form)
{
    if (form)
        form->close();
    QTRY_VERIFY(form.isNull());
}

} // namespace

class TestFakeData : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        MainConnection().AddAlertListener([](const QByteArray& body) { Received() << body; });
    }

    void init() { Received().clear(); }

    void debugFlagDecidesVisibility_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<bool>("visible");
        QTest::newRow("1") << QByteArray("[General]\ndebug=1\n") << true;
        QTest::newRow("case of names") << QByteArray("[general]\nDEBUG = 1\n") << true;
        QTest::newRow("true") << QByteArray("[General]\ndebug=true\n") << false;
        QTest::newRow("0") << QByteArray("[General]\ndebug=0\n") << false;
        QTest::newRow("empty") << QByteArray("[General]\ndebug=\n") << false;
        QTest::newRow("absent") << QByteArray("[General]\nsound=1\n") << false;
    }
    void debugFlagDecidesVisibility()
    {
        QFETCH(QByteArray, config);
        QFETCH(bool, visible);
        QPointer<TFakeDataForm> form = NewStartForm(config);
        QCOMPARE(form->isVisible(), visible);
        QCOMPARE(form->windowTitle(), QStringLiteral("Fake Data"));
        QCOMPARE(form->size(), QSize(297, 192));
        QCOMPARE(StartFakeDataForm(), form.data());
        QCOMPARE(StartSoundDelay(), 0);
        CloseAndWait(form);
    }

    void sendHandsSubscriptionAndDataToListeners()
    {
        QPointer<TFakeDataForm> form = NewStartForm();
        form->SubscriptionEdit->setText(QStringLiteral("sub"));
        form->DataEdit->setText(QStringLiteral("symbol=MSFT&last=25.5"));
        QTest::mouseClick(form->SendButton, Qt::LeftButton);
        QCOMPARE(Received(), QList<QByteArray> {"sub\r\nsymbol=MSFT&last=25.5"});

        // Enter in an edit is the default button.
        form->DataEdit->clear();
        QTest::keyClick(form->DataEdit, Qt::Key_Return);
        QCOMPARE(Received().size(), 2);
        QCOMPARE(Received().last(), QByteArray("sub\r\n"));
        CloseAndWait(form);
    }

    void duplicateCopiesMessageNotDelay()
    {
        QPointer<TFakeDataForm> form = NewStartForm("[General]\ndebug=0\n");
        form->SubscriptionEdit->setText(QStringLiteral("wex"));
        form->DataEdit->setText(QStringLiteral("symbol=IBM"));
        form->SoundDelayEdit->setText(QStringLiteral("250"));
        QTest::mouseClick(form->DuplicateButton, Qt::LeftButton);

        QPointer<TFakeDataForm> copy;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<TFakeDataForm*>(w); f && f != form)
                copy = f;
        QVERIFY(copy);
        QVERIFY(copy->isVisible());
        QCOMPARE(copy->SubscriptionEdit->text(), QStringLiteral("wex"));
        QCOMPARE(copy->DataEdit->text(), QStringLiteral("symbol=IBM"));
        QCOMPARE(copy->SoundDelayEdit->text(), QString());
        QCOMPARE(StartFakeDataForm(), form.data());
        QCOMPARE(StartSoundDelay(), 250);

        // The copy sends on its own; closing it leaves the start window alone.
        QTest::mouseClick(copy->SendButton, Qt::LeftButton);
        QCOMPARE(Received(), QList<QByteArray> {"wex\r\nsymbol=IBM"});
        CloseAndWait(copy);
        QCOMPARE(StartSoundDelay(), 250);
        CloseAndWait(form);
    }

    void soundDelayText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("delay");
        QTest::newRow("250") << QStringLiteral("250") << 250;
        QTest::newRow("blanks") << QStringLiteral(" 250 ") << 250;
        QTest::newRow("abc") << QStringLiteral("abc") << 0;
        QTest::newRow("250ms") << QStringLiteral("250ms") << 0;
        QTest::newRow("hex is not decimal") << QStringLiteral("$FA") << 0;
        QTest::newRow("too large") << QStringLiteral("99999999999") << 0;
        QTest::newRow("empty") << QString() << 0;
    }
    void soundDelayText()
    {
        QFETCH(QString, text);
        QFETCH(int, delay);
        QPointer<TFakeDataForm> form = NewStartForm("");
        form->SoundDelayEdit->setText(text);
        QCOMPARE(form->SoundDelay(), delay);
        QCOMPARE(StartSoundDelay(), delay);
        CloseAndWait(form);
    }

    void closingTheStartWindowZeroesTheDelay()
    {
        QPointer<TFakeDataForm> form = NewStartForm();
        form->SoundDelayEdit->setText(QStringLiteral("500"));
        QCOMPARE(StartSoundDelay(), 500);
        form->close();
        QTRY_VERIFY(form.isNull());
        QVERIFY(StartFakeDataForm() == nullptr);
        QCOMPARE(StartSoundDelay(), 0);
    }

    void editsStretchWithTheWindow()
    {
        QPointer<TFakeDataForm> form = NewStartForm();
        QCOMPARE(form->SubscriptionEdit->geometry(), QRect(8, 24, 281, 21));
        QCOMPARE(form->SendButton->geometry(), QRect(8, 104, 75, 25));
        QCOMPARE(form->DuplicateButton->geometry(), QRect(216, 104, 75, 25));
        form->resize(397, 192);
        for (QLineEdit* edit : {form->SubscriptionEdit, form->DataEdit, form->SoundDelayEdit})
            QCOMPARE(edit->width(), 381);
        QCOMPARE(form->Label3->text(), QStringLiteral("Price Spike audible alert delay (milliseconds):"));
        CloseAndWait(form);
    }
};

QTEST_MAIN(TestFakeData)
#include "tst_fakedata.moc"
