// labels: sound shell
// The optional desktop notification of a price spike: off by default, at most one per symbol
// per minute on the monotonic clock, the message, the check box beside the sound controls and
// its saved setting, and the way from a painted spike to the desktop.

#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Olvarra/MainWindow.h"
#include "Olvarra/PriceSpikeNotice.h"
#include "Olvarra/PriceSpikeSound.h"
#include "Olvarra/WexGridFull.h"
#include "Platform/Clock.h"
#include "Platform/DesktopNotifier.h"
#include "Platform/SettingsStore.h"
#include "Platform/SoundPlayer.h"

#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

struct TFakeNotifier : TDesktopNotifier {
    void Notify(const QString& appName, const QString& summary, const QString& body) override
    {
        Shown.append(appName + " | " + summary + " | " + body);
    }
    QStringList Shown;
};

struct TSilentPlayer : TSoundPlayer {
    void PlayFile(const QString&, TFinished finished) override { finished(); }
    void Beep(TFinished finished) override { finished(); }
};

struct TFormRig {
    TFormRig(const QByteArray& ini, const QString& folder)
    {
        QFile file(folder + "/Vesk.ini");
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        Connection = std::make_unique<TMainConnection>("127.0.0.1:1", nullptr);
        Connection->GetTimer()->stop();
        TMainFormSetup setup;
        setup.ConfigPath = folder + "/Vesk.ini";
        setup.SettingsPath = folder + "/settings.ini";
        setup.Connection = Connection.get();
        Form = std::make_unique<TMainForm>(setup);
    }
    ~TFormRig() { Close(); }
    void Close()
    {
        if (!Form)
            return;
        const std::vector<TAlertForm*> windows = Form->GetAlertWindows();
        Form.reset();
        for (TAlertForm* w : windows)
            delete w;
    }
    std::unique_ptr<TMainConnection> Connection;
    std::unique_ptr<TMainForm> Form;
};

} // namespace

class TestSpikeNotice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void OncePerSymbolPerMinute();
    void MessageIsEscapedAndShort();
    void CheckBoxBesideTheSoundControls();
    void PaintedSpikeReachesTheDesktop();
};

void TestSpikeNotice::OncePerSymbolPerMinute()
{
    TManualClock clock;
    TScopedClock scoped(&clock);
    TFakeNotifier fake;
    TScopedDesktopNotifier installed(&fake);
    QWidget page;
    auto* box = new QCheckBox(&page);
    TPriceSpikeNotice notice;
    notice.SetAppName("App");
    // No check box, or one not checked: nothing.
    QVERIFY(!notice.Notify("IBM", 7.5));
    notice.SetCheckBox(box);
    QVERIFY(!notice.Notify("IBM", 7.5));
    box->setChecked(true);

    QVERIFY(notice.Notify("IBM", 7.5));
    QCOMPARE(fake.Shown, QStringList{"App | Price spike: IBM | IBM price spike 7.5"});
    clock.Advance(59'999);
    QVERIFY(!notice.Notify("IBM", 9));
    QVERIFY(notice.Notify("MSFT", 8)); // another symbol has its own minute
    clock.Advance(1);
    QVERIFY(notice.Notify("IBM", 9.04));
    QCOMPARE(fake.Shown.last(), QString("App | Price spike: IBM | IBM price spike 9.0"));
    // The wall clock set back an hour changes nothing.
    clock.SetLocal(clock.LocalNow().addSecs(-3600));
    QVERIFY(!notice.Notify("IBM", 9));
    QCOMPARE(fake.Shown.size(), 3);

    // A flood of spiking symbols from the server is held to the limit in any minute.
    clock.Advance(60'000);
    int shown = 0;
    for (int i = 0; i < 500; ++i)
        shown += notice.Notify("S" + QByteArray::number(i), 7) ? 1 : 0;
    QCOMPARE(shown, TPriceSpikeNotice::PerMinuteLimit);
    clock.Advance(60'000);
    QVERIFY(notice.Notify("S499", 7));
}

void TestSpikeNotice::MessageIsEscapedAndShort()
{
    QCOMPARE(TPriceSpikeNotice::Summary("IBM"), QString("Price spike: IBM"));
    // The body may be read as markup: a symbol cannot add any.
    QCOMPARE(TPriceSpikeNotice::Body("<b>X&Y", 12.25), QString("&lt;b&gt;X&amp;Y price spike 12.2"));
    QCOMPARE(TPriceSpikeNotice::Summary(QByteArray(200, 'A') + "\n").size(), 13 + 24);
    QCOMPARE(TPriceSpikeNotice::Summary("A\r\nB"), QString("Price spike: A  B"));
}

void TestSpikeNotice::CheckBoxBesideTheSoundControls()
{
    QTemporaryDir dir;
    QRect listWithout, buttonsWithout;
    {
        TFormRig rig("[General]\nsound=0\n", dir.path());
        TMainForm& form = *rig.Form;
        QVERIFY(form.PriceSpikeNotificationCheckBox->isHidden());
        QCOMPARE(form.size(), QSize(314, 271)); // without the sound controls, as designed
        form.show();
        form.PageControl1->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        listWithout = form.AlertWindowsListBox->geometry();
        buttonsWithout = form.SetFontButton->geometry();
    }
    {
        TFormRig rig("[General]\nsound=1\n", dir.path());
        TMainForm& form = *rig.Form;
        QCheckBox* box = form.PriceSpikeNotificationCheckBox;
        QVERIFY(!box->isHidden());
        QVERIFY(!box->isChecked()); // off by default
        form.show();
        form.PageControl1->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // Under the sound controls, inside the page; the designed controls keep their places.
        QCOMPARE(form.size(), QSize(314, 271 + 25));
        QCOMPARE(form.AlertWindowsListBox->geometry(), listWithout);
        QCOMPARE(form.SetFontButton->geometry(), buttonsWithout);
        QCOMPARE(form.PriceSpikeSoundCheckBox->geometry().top(), buttonsWithout.top() + 31);
        QCOMPARE(box->geometry().top(), form.PriceSpikeSoundCheckBox->geometry().bottom() + 1);
        QVERIFY(form.WindowsPage->rect().contains(box->geometry()));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
        QVERIFY(box->isChecked());
        QVERIFY(!form.PriceSpikeSoundCheckBox->isChecked()); // its own choice
    }
    {
        TSettingsStore store(dir.filePath("settings.ini"));
        QVERIFY(store.ReadBool("Main", "EnableSpikeNotification", false));
    }
    // Read back at the next start.
    TFormRig rig("[General]\nsound=1\n", dir.path());
    QVERIFY(rig.Form->PriceSpikeNotificationCheckBox->isChecked());
}

void TestSpikeNotice::PaintedSpikeReachesTheDesktop()
{
    TSilentPlayer player;
    TScopedSoundPlayer silent(&player);
    TFakeNotifier fake;
    TScopedDesktopNotifier installed(&fake);
    QTemporaryDir dir;
    TFormRig rig("[General]\nsound=1\ntitle=Desk\nwindow count=1\n"
                 "[Alert Window 0]\nsubscription=wex\ndisplay=wex\ncolumns=0,1\n",
                 dir.path());
    TAlertForm* window = rig.Form->GetAlertWindows().at(0);
    window->show();
    auto paint = [&] { window->GetGrid()->grab(); };
    window->HandleAlertMessage("wex\r\nsymbol0=IBM&price_spike0=7.5&symbol1=MSFT&price_spike1=3\r\n");
    paint();
    QVERIFY(fake.Shown.isEmpty()); // off until the user checks the box
    rig.Form->PriceSpikeNotificationCheckBox->setChecked(true);
    // The spike must be painted below 7 in between to sound again.
    window->HandleAlertMessage("wex\r\nsymbol0=IBM&price_spike0=1&symbol1=MSFT&price_spike1=3\r\n");
    paint();
    window->HandleAlertMessage("wex\r\nsymbol0=IBM&price_spike0=8&symbol1=MSFT&price_spike1=3\r\n");
    paint();
    QCOMPARE(fake.Shown, QStringList{"Desk 1.1.31 | Price spike: IBM | IBM price spike 8.0"});
    // Sounding again within the minute raises no second notification.
    window->HandleAlertMessage("wex\r\nsymbol0=IBM&price_spike0=1&symbol1=MSFT&price_spike1=3\r\n");
    paint();
    window->HandleAlertMessage("wex\r\nsymbol0=IBM&price_spike0=9&symbol1=MSFT&price_spike1=3\r\n");
    paint();
    QCOMPARE(fake.Shown.size(), 1);
}

QTEST_MAIN(TestSpikeNotice)
#include "tst_spikenotice.moc"
