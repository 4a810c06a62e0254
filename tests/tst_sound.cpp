// labels: sound
// The price-spike signal: gated by the check box's own flags, delayed on the event loop
// (never by blocking it), then the chosen file or the beep, one full sound per spike, one
// after another, through a recording player whose sounds end when the test says so.

#include "Olvarra/ConfigFile.h"
#include "Olvarra/FakeDataUnit.h"
#include "Olvarra/PriceSpikeSignal.h"
#include "Platform/Clock.h"
#include "Platform/SoundPlayer.h"
#include "Shared/MiscDebugWindows.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QtTest>

namespace {

// Records every sound and holds it "playing" until the test ends it, as the audio device
// would; Instant makes every sound end inside the call, as the beep does.
class TRecordingPlayer : public TSoundPlayer {
public:
    void PlayFile(const QString& path, TFinished finished) override { Start(path, std::move(finished)); }
    void Beep(TFinished finished) override { Start(QStringLiteral("<beep>"), std::move(finished)); }

    // Ends the oldest sound still playing.
    void FinishOne()
    {
        QVERIFY(!Unfinished.isEmpty());
        TFinished finished = Unfinished.takeFirst();
        if (finished)
            finished();
    }
    int PlayingNow() const { return int(Unfinished.size()); }

    QStringList Heard;
    int MostAtOnce = 0;
    bool Instant = false;

private:
    void Start(const QString& name, TFinished finished)
    {
        Heard << name;
        if (Instant) {
            if (finished)
                finished();
            return;
        }
        Unfinished.append(std::move(finished));
        MostAtOnce = std::max(MostAtOnce, PlayingNow());
    }
    QList<TFinished> Unfinished;
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
    TRecordingPlayer Player;
    TScopedSoundPlayer Installed {&Player};
    TPriceSpikeSignal Signal;
};

// Every line the debug window was given, shown or still batched.
QStringList DebugLines()
{
    TMiscDebugWindow* window = SharedDebugWindow();
    if (!window)
        return {};
    QString all = window->Memo1->toPlainText();
    if (!window->GetPendingText().isEmpty())
        all += (all.isEmpty() ? QString() : QStringLiteral("\n")) + window->GetPendingText();
    all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return all.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

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
        rig.Player.FinishOne();

        rig.Signal.SetSoundFileName(QStringLiteral("/sounds/spike.wav"));
        rig.Signal.Play();
        QTRY_COMPARE(rig.Player.Heard.size(), 2);
        QCOMPARE(rig.Player.Heard.last(), QStringLiteral("/sounds/spike.wav"));

        // "Select Sound": now, whatever the box says, even over a spike's sound; a spike
        // waiting behind that sound waits for the sample instead.
        rig.Signal.Play();
        rig.Box->setChecked(false);
        rig.Signal.PlaySample();
        QCOMPARE(rig.Player.Heard.size(), 3);
        rig.Player.FinishOne(); // the spike's sound, cut off by the sample: no news
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 3);
        rig.Player.FinishOne(); // the sample
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 4);
    }

    void spikesPlayOneAfterAnotherInFull()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TRig rig;

        // Three symbols turn yellow in one painting: three sounds, one after the other.
        for (int i = 0; i < 3; ++i)
            rig.Signal.Play();
        rig.Signal.PlayDueSounds();
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 1);
        QCOMPARE(rig.Signal.PendingCount(), 2);
        rig.Player.FinishOne();
        // The next one starts from the event loop once the player has told the end.
        QTRY_COMPARE(rig.Player.Heard.size(), 2);
        clock.Advance(5000);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 2);

        // A spike while a sound plays waits for it, then plays in full.
        rig.Signal.Play();
        rig.Player.FinishOne();
        QTRY_COMPARE(rig.Player.Heard.size(), 3);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 3);
        rig.Player.FinishOne();
        QTRY_COMPARE(rig.Player.Heard.size(), 4);
        rig.Player.FinishOne();
        QCoreApplication::processEvents();
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 4);
        QCOMPARE(rig.Player.MostAtOnce, 1);
        QVERIFY(!rig.Signal.IsPlaying());

        // The beep is over as soon as it is given: a player that says so inside the call
        // lets the next signal follow on the next turn of the event loop.
        rig.Player.Instant = true;
        rig.Signal.Play();
        rig.Signal.Play();
        QTRY_COMPARE(rig.Player.Heard.size(), 6);
    }

    void delayCountsFromEachSpike()
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
        // The second is due at 600 but the first still plays.
        clock.Advance(300);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 1);
        // Its delay has long run out: it follows at once, not 500 ms after the first ended.
        rig.Player.FinishOne();
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 2);
        QCOMPARE(rig.Signal.PendingCount(), 0);

        // A spike 200 ms before the sound ends waits only its remaining 300 ms.
        rig.Signal.Play();
        clock.Advance(200);
        rig.Player.FinishOne();
        clock.Advance(299);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 2);
        clock.Advance(1);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 3);
        rig.Player.FinishOne();

        // Negative means none.
        delay = -40;
        rig.Signal.Play();
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 4);
    }

    void burstIsBoundedAndReportedOnce()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TRig rig;
        const int before = int(DebugLines().size());

        rig.Signal.Play();
        rig.Signal.PlayDueSounds();
        QVERIFY(rig.Signal.IsPlaying());
        for (int i = 0; i < 1000; ++i)
            rig.Signal.Play();
        QCOMPARE(rig.Signal.PendingCount(), TPriceSpikeSignal::PendingLimit);

        // Every waiting one plays in turn; the drop is told once, when the queue moves.
        for (int played = 1; played <= TPriceSpikeSignal::PendingLimit; ++played) {
            rig.Player.FinishOne();
            rig.Signal.PlayDueSounds();
            QCOMPARE(rig.Player.Heard.size(), 1 + played);
        }
        rig.Player.FinishOne();
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 1 + TPriceSpikeSignal::PendingLimit);
        QCOMPARE(rig.Player.MostAtOnce, 1);
        QStringList lines = DebugLines().mid(before);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QLatin1String(" 968 ")), qPrintable(lines.first()));

        // A later burst is a line of its own.
        for (int i = 0; i < 40; ++i)
            rig.Signal.Play();
        rig.Signal.PlayDueSounds();
        lines = DebugLines().mid(before);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.last().contains(QLatin1String(" 8 ")), qPrintable(lines.last()));
        // A queue that never filled drops nothing and says nothing.
        while (rig.Player.PlayingNow() > 0) {
            rig.Player.FinishOne();
            rig.Signal.PlayDueSounds();
        }
        rig.Signal.Play();
        rig.Signal.PlayDueSounds();
        rig.Player.FinishOne();
        QCOMPARE(DebugLines().mid(before).size(), 2);
    }

    void playerThatNeverTellsCannotSilenceLaterSpikes()
    {
        TManualClock clock;
        TScopedClock scoped(&clock);
        TRig rig;
        rig.Signal.Play();
        rig.Signal.Play();
        rig.Signal.PlayDueSounds();
        clock.Advance(TPriceSpikeSignal::LongestSoundMs - 1);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 1);
        clock.Advance(1);
        rig.Signal.PlayDueSounds();
        QCOMPARE(rig.Player.Heard.size(), 2);
        // The first one's late word does not end the second.
        rig.Player.FinishOne();
        QVERIFY(rig.Signal.IsPlaying());
    }

    void systemPlayerAlwaysTellsTheEnd()
    {
        // Where there is an audio device the wave plays and the other two fail to load;
        // where there is none, nothing plays. Either way every sound ends, once.
        QTemporaryDir dir;
        const QString wave = dir.filePath("quiet.wav");
        {
            // 200 ms of silence, 8 kHz mono 8-bit.
            QFile file(wave);
            QVERIFY(file.open(QIODevice::WriteOnly));
            const QByteArray samples(1600, char(0x80));
            QDataStream out(&file);
            out.setByteOrder(QDataStream::LittleEndian);
            out.writeRawData("RIFF", 4);
            out << quint32(36 + samples.size());
            out.writeRawData("WAVEfmt ", 8);
            out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(8000) << quint16(1)
                << quint16(8);
            out.writeRawData("data", 4);
            out << quint32(samples.size());
            out.writeRawData(samples.constData(), int(samples.size()));
        }
        const QString bogus = dir.filePath("bogus.wav");
        {
            QFile file(bogus);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not a wave file at all");
        }
        if (QMediaDevices::defaultAudioOutput().isNull())
            qInfo("no audio output here: only the path without one is taken");

        int ended = 0;
        for (const QString& path : {wave, dir.filePath("missing.wav"), bogus, wave}) {
            const int before = ended;
            SoundPlayer().PlayFile(path, [&] { ++ended; });
            QTRY_COMPARE_WITH_TIMEOUT(ended, before + 1, 5000);
        }
        // A sound cut off by the next one has ended too.
        SoundPlayer().PlayFile(wave, [&] { ++ended; });
        SoundPlayer().PlayFile(wave, [&] { ++ended; });
        QTRY_COMPARE_WITH_TIMEOUT(ended, 6, 5000);
        QTest::qWait(300);
        QCOMPARE(ended, 6);

        SoundPlayer().Beep([&] { ++ended; });
        QCOMPARE(ended, 7);
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
        rig.Player.Instant = true;
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
