// labels: sound
// The price-spike signal: gated by the check box's own flags, delayed on the event loop
// (never by blocking it), then the chosen file or the beep, through a recording player.

#include "Olvarra/ConfigFile.h"
#include "Olvarra/FakeDataUnit.h"
#include "Olvarra/PriceSpikeSignal.h"
#include "Platform/Clock.h"
#include "Platform/SoundPlayer.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QtTest>

namespace {

class TRecordingPlayer : public TSoundPlayer {
public:
    void PlayFile(const QString& path) override { Heard << path; }
    void Beep() override { Heard << QStringLiteral("<beep>"); }
    QStringList Heard;
};

// A main window's Windows page in miniature: the box is shown with its parent.
struct TRig {
    TRig()
    {
        Box = new QCheckBox(&Page);
        Box->setChecked(true);
        Signal.SetCheckBox(Box);
    }
    QWidget Page;
    QCheckBox* Box;
    TPriceSpikeSignal Signal;
    TRecordingPlayer Player;
    TScopedSoundPlayer Installed {&Player};
};

} // namespace

class TestSound : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void checkBoxGatesTheSignal()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TRig rig;

        // Hidden by the configuration: silent even though "EnableSound" checked it.
        rig.Box->hide();
        rig.Signal.Play();
        QCOMPARE(rig.Signal.PendingCount(), 0);

        rig.Box->show();
        rig.Box->setChecked(false);
        rig.Signal.Play();
        QCOMPARE(rig.Signal.PendingCount(), 0);
        rig.Signal.PlayDueSounds();
        QVERIFY(rig.Player.Heard.isEmpty());

        // Its window not on screen (minimised, or not yet shown) still counts as switched on.
        rig.Box->setChecked(true);
        QVERIFY(!rig.Page.isVisible());
        QVERIFY(rig.Signal.Enabled());

        TPriceSpikeSignal unbound;
        QVERIFY(!unbound.Enabled());
    }

    void beepWithoutFileThePathWithOne()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TRig rig;

        rig.Signal.Play();
        // Not inside the caller (the grid's painting): only once the event loop turns.
        QVERIFY(rig.Player.Heard.isEmpty());
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard, QStringList {QStringLiteral("<beep>")});

        rig.Signal.SetSoundFileName(QStringLiteral("/sounds/spike.wav"));
        rig.Signal.Play();
        QTRY_COMPARE(rig.Player.Heard.size(), 2);
        QCOMPARE(rig.Player.Heard.last(), QStringLiteral("/sounds/spike.wav"));

        // "Select Sound": now, whatever the box says.
        rig.Box->setChecked(false);
        rig.Signal.PlaySample();
        QCOMPARE(rig.Player.Heard.size(), 3);
    }

    void delayCountsOnTheMonotonicClock()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TRig rig;
        int delay = 500;
        rig.Signal.SetDelaySource([&] { return delay; });

        rig.Signal.Play();
        clock.Advance(100);
        rig.Signal.Play(); // a second spike 100 ms later: its own 500 ms
        clock.Advance(399);
        rig.Signal.PlayDueSounds();
        QVERIFY(rig.Player.Heard.isEmpty());
        // A wall-clock jump is not time passing.
        clock.SetLocal(clock.LocalNow().addSecs(3600));
        rig.Signal.PlayDueSounds();
        QVERIFY(rig.Player.Heard.isEmpty());

        clock.Advance(1);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 1);
        QCOMPARE(rig.Signal.PendingCount(), 1);
        clock.Advance(100);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 2);
        QCOMPARE(rig.Signal.PendingCount(), 0);

        // Negative means none.
        delay = -40;
        rig.Signal.Play();
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 3);
    }

    void burstDuringLongDelayIsBounded()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TRig rig;
        rig.Signal.SetDelaySource([] { return 60'000; });
        for (int i = 0; i < 1000; ++i)
            rig.Signal.Play();
        QCOMPARE(rig.Signal.PendingCount(), TPriceSpikeSignal::PendingLimit);
        clock.Advance(60'000);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 1);
        QCOMPARE(rig.Signal.PendingCount(), 0);
    }

    void realDelayKeepsTheEventLoopRunning()
    {
        TRig rig;
        rig.Signal.SetDelaySource([] { return 500; });
        int ticks = 0;
        QTimer other;
        QObject::connect(&other, &QTimer::timeout, [&] { ++ticks; });
        other.start(20);

        QElapsedTimer elapsed;
        elapsed.start();
        rig.Signal.Play();
        QVERIFY(rig.Player.Heard.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.Player.Heard.isEmpty(), 1500);
        QVERIFY(elapsed.elapsed() >= 500);
        // Other timers kept firing while the signal waited.
        QVERIFY(ticks >= 5);
        QCOMPARE(rig.Player.Heard, QStringList {QStringLiteral("<beep>")});
    }

    void defaultDelayIsTheStartFakeDataWindows()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TRig rig;
        QPointer<TFakeDataForm> form = new TFakeDataForm(TConfigFile::FromText("[General]\ndebug=0\n"));
        QCOMPARE(StartFakeDataForm(), form.data());

        form->SoundDelayEdit->setText(QStringLiteral("abc"));
        rig.Signal.Play();
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 1);

        form->SoundDelayEdit->setText(QStringLiteral("250"));
        rig.Signal.Play();
        clock.Advance(249);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 1);
        clock.Advance(1);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 2);

        // A duplicate's delay is never used.
        TFakeDataForm* copy = form->DuplicateButtonClick();
        copy->SoundDelayEdit->setText(QStringLiteral("900"));
        form->close();
        QTRY_VERIFY(form.isNull());
        rig.Signal.Play();
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 3);
        delete copy;
    }
};

QTEST_MAIN(TestSound)
#include "tst_sound.moc"
