// labels: shell
// The main window driven through its own controls, offscreen: login from the buttons, the
// alert windows it creates and lists, their placements across a restart, and what it writes
// to the settings when it goes.

#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/ExternalLinkingUnit.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Olvarra/MainWindow.h"
#include "Olvarra/QuickstrikeExclude.h"
#include "Olvarra/WindowPlacement.h"
#include "Olvarra/PriceSpikeSignal.h"
#include "Olvarra/PriceSpikeSound.h"
#include "Platform/Clock.h"
#include "Platform/LinkSocketPlace.h"
#include "Platform/SettingsStore.h"
#include "Platform/SoundPlayer.h"
#include "support/DemoServer.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

// One start of the program: a configuration, a settings file that outlives the form (so a
// second rig over the same folder is a restart), a main connection with a stopped timer.
struct TFormRig {
    TFormRig(const QByteArray& ini, const QString& folder, const QString& serverAddress = "127.0.0.1:1")
    {
        const QString configPath = folder + "/Vesk.ini";
        QFile file(configPath);
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        Connection = std::make_unique<TMainConnection>(serverAddress.toLatin1(), nullptr);
        Connection->GetTimer()->stop();
        TMainFormSetup setup;
        setup.ConfigPath = configPath;
        setup.SettingsPath = folder + "/settings.ini";
        setup.Connection = Connection.get();
        Form = std::make_unique<TMainForm>(setup);
    }

    ~TFormRig() { Close(); }

    // Ends the form as the program does at exit, then the windows it left behind.
    void Close()
    {
        if (!Form)
            return;
        const std::vector<TAlertForm*> windows = Form->GetAlertWindows();
        Form.reset();
        for (TAlertForm* window : windows)
            delete window;
    }

    TAlertForm* Window(int i) const { return Form->GetAlertWindows().at(size_t(i)); }

    std::unique_ptr<TMainConnection> Connection;
    std::unique_ptr<TMainForm> Form;
};

QByteArray WindowsIni(int count)
{
    QByteArray ini = "[General]\nwindow count=" + QByteArray::number(count) + "\n";
    for (int i = 0; i < count; ++i)
        ini += "[Alert Window " + QByteArray::number(i) + "]\nsubscription=cat" + QByteArray::number(i)
               + "\ntitle=Window " + QByteArray::number(i) + "\n";
    return ini;
}

// Every sound ends at once, so each spike plays without waiting for the one before.
struct TRecordingPlayer : TSoundPlayer {
    void PlayFile(const QString& path, TFinished finished) override
    {
        Played.append(path);
        if (finished)
            finished();
    }
    void Beep(TFinished finished) override
    {
        Played.append("beep");
        if (finished)
            finished();
    }
    QStringList Played;
};

QRect Monitor()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

bool HasFrame(const QWidget* window)
{
    return window->frameGeometry() != window->geometry();
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void LoginFromTheButtons_data();
    void LoginFromTheButtons();
    void ConnectionPageShowsStatus();
    void TitleAndMissingConfiguration();
    void WindowCount_data();
    void WindowCount();
    void ExitWritesSettingsOnceInOrder();
    void PlacementsSurviveRestart();
    void SavedPositionsBeyondTheMonitorMovedBack();
    void FitOntoMonitorRules();
    void FittedAgainOnceTheFrameIsKnown();
    void ListBoxDoubleClickShowsWindow();
    void ConfigureExternalLinkingComesBackNormal();
    void OptionalControlsAndSoundButton();
    void HiddenSoundControlsKeepSilent();
    void SelectSoundPlaysASample();
    void FontGoesToAlertWindowsOnly();
    void ExclusionListThroughTheDialog();
};

void TestMainForm::LoginFromTheButtons_data()
{
    QTest::addColumn<QByteArray>("general");
    QTest::addColumn<QByteArray>("userName");
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("plain") << QByteArray("") << QByteArray("joe") << QByteArray("pw");
    QTest::newRow("prefix and digest") << QByteArray("prefix=X\npreprocess password = 1 \n") << QByteArray("Xjoe")
                                       << QByteArray("8fe4c11451281c094a6578e6ddbf5eed");
    QTest::newRow("only 1 turns the digest on") << QByteArray("preprocess password=yes\n") << QByteArray("joe")
                                                 << QByteArray("pw");
}

void TestMainForm::LoginFromTheButtons()
{
    QFETCH(QByteArray, general);
    QFETCH(QByteArray, userName);
    QFETCH(QByteArray, password);
    TDemoServer server({"--no-alerts"});
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TManualClock clock; // pings only when the test says so
    TScopedClock scopedClock(&clock);
    QTemporaryDir dir;
    TFormRig rig("[General]\n" + general, dir.path(), server.Address());
    TMainForm& form = *rig.Form;
    QTest::keyClicks(form.UsernameEdit, "joe");
    QTest::keyClicks(form.PasswordEdit, "pw");
    QTest::mouseClick(form.LoginButton, Qt::LeftButton);
    QVERIFY(server.WaitForRequests("login"));
    const TDemoRequest login = server.RequestsWith("login").constFirst();
    QCOMPARE(login.Value("username"), userName);
    QCOMPARE(login.Value("password"), password);
    QVERIFY(server.WaitFor([&] { return form.StatusLabel->text() == "Connected!"; }));

    // Login again with the same name and password: the conversation stays. A reconnect
    // would have closed it and sent its login and ping on a second one; the next ping shows
    // which conversation is current by the time the server has heard it.
    const int pings = int(server.RequestsWith("ping").size());
    QTest::keyClick(form.PasswordEdit, Qt::Key_Return);
    QCoreApplication::processEvents();
    clock.Advance(4501);
    rig.Connection->Tick();
    QVERIFY(server.WaitForRequests("ping", pings + 1));
    QCOMPARE(server.RequestsWith("ping").last().Conn, 1);
    QCOMPARE(server.RequestsWith("login").size(), 1);
    QCOMPARE(server.OpenedCount(), 1);
    QCOMPARE(server.ClosedCount(), 0);
    // Reset Connection starts a new one.
    QTest::mouseClick(form.ResetConnectionButton, Qt::LeftButton);
    QCOMPARE(form.StatusLabel->text(), QString());
    QVERIFY(server.WaitForRequests("login", 2));
    QCOMPARE(server.RequestsWith("login")[1].Conn, 2);
}

void TestMainForm::ConnectionPageShowsStatus()
{
    TDemoServer server({"--no-alerts"});
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    QTemporaryDir dir;
    TFormRig rig("[General]\ntitle=Demo\n", dir.path(), server.Address());
    TMainForm& form = *rig.Form;
    // The password is shown as "~" per character, and never read back as text.
    QCOMPARE(form.PasswordEdit->echoMode(), QLineEdit::Password);
    QCOMPARE(form.PasswordEdit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, form.PasswordEdit),
             int('~'));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::keyClicks(form.UsernameEdit, "trader");
    QTest::keyClicks(form.PasswordEdit, "secret");
    QTest::keyClick(form.UsernameEdit, Qt::Key_Return); // the default button
    QVERIFY(server.WaitFor([&] { return form.StatusLabel->text() == "Connected!"; }));
    QVERIFY(form.StatusLabel->isVisible());
    QVERIFY(form.StatusLabel->width() >= form.StatusLabel->sizeHint().width());
    // A picture of the connected window for whoever wants to see it.
    const QString shots = qEnvironmentVariable("VESK_SCREENSHOT_DIR");
    if (!shots.isEmpty())
        QVERIFY(form.grab().save(shots + "/mainform-connected.png"));
    // The password never reaches the settings.
    rig.Close();
    QFile settings(dir.filePath("settings.ini"));
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray saved = settings.readAll();
    QVERIFY(saved.contains("trader"));
    QVERIFY(!saved.contains("secret"));
}

void TestMainForm::TitleAndMissingConfiguration()
{
    QTemporaryDir dir;
    {
        TFormRig rig("[General]\ntitle=\n", dir.path());
        QCOMPARE(rig.Form->windowTitle(), QString(" 1.1.31"));
    }
    QFile::remove(dir.filePath("Vesk.ini"));
    TMainFormSetup setup;
    setup.ConfigPath = dir.filePath("none.ini");
    setup.SettingsPath = dir.filePath("settings.ini");
    TMainConnection connection("127.0.0.1:1", nullptr);
    setup.Connection = &connection;
    TMainForm form(setup);
    QCOMPARE(form.windowTitle(), QString("Reraduv Ezerid 1.1.31"));
    QVERIFY(QGuiApplication::applicationDisplayName() != QString("Reraduv Ezerid 1.1.31"));
    QVERIFY(form.GetAlertWindows().empty());
    QVERIFY(form.QuickStrikeExcludeButton->isHidden());
    QVERIFY(form.PriceSpikeSoundCheckBox->isHidden());
    QVERIFY(form.SetupSoundButton->isHidden());
}

void TestMainForm::WindowCount_data()
{
    QTest::addColumn<QByteArray>("count");
    QTest::addColumn<int>("expected");
    QTest::newRow("negative") << QByteArray("-3") << 0;
    QTest::newRow("not a number") << QByteArray("abc") << 0;
    QTest::newRow("two") << QByteArray("2") << 2;
    QTest::newRow("hex") << QByteArray("$3") << 3;
}

void TestMainForm::WindowCount()
{
    QFETCH(QByteArray, count);
    QFETCH(int, expected);
    QByteArray ini = WindowsIni(3);
    ini.replace("window count=3", "window count=" + count);
    ini += "[Alert Window 3]\nsubscription=never\n";
    QTemporaryDir dir;
    TFormRig rig(ini, dir.path());
    QCOMPARE(int(rig.Form->GetAlertWindows().size()), expected);
    QCOMPARE(rig.Form->AlertWindowsListBox->count(), expected);
    for (int i = 0; i < expected; ++i) {
        QCOMPARE(rig.Window(i)->GetSubscription(), "cat" + QByteArray::number(i));
        QCOMPARE(rig.Form->AlertWindowsListBox->item(i)->text(), QString("Window %1").arg(i));
        QVERIFY(rig.Window(i)->isHidden());
    }
    QCOMPARE(int(rig.Connection->GetCategories().size()), expected);
}

void TestMainForm::ExitWritesSettingsOnceInOrder()
{
    QTemporaryDir dir;
    TFormRig rig(WindowsIni(2), dir.path());
    QStringList writes;
    rig.Form->GetSettings().OnWrite = [&](const QString& section, const QString& key) {
        writes.append(section + "/" + key);
    };
    // Closing the window ends the program; the settings are written when it is destroyed.
    QSignalSpy closed(rig.Form.get(), &TMainForm::Closed);
    rig.Form->show();
    rig.Form->close();
    QCOMPARE(closed.count(), 1);
    QVERIFY(writes.isEmpty());
    rig.Form->FormDestroy();
    const QStringList window0 = {"Window:cat0/Width", "Window:cat0/Height", "Window:cat0/Left",
                                 "Window:cat0/Top",   "Window:cat0/State",  "Window:cat0/Visible"};
    QStringList expected = window0;
    for (const QString& w : window0)
        expected.append(QString(w).replace("cat0", "cat1"));
    expected += QStringList{"Main/User", "Main/FontName", "Main/FontSize", "Main/Left",
                            "Main/Top",  "Main/SoundFileName", "Main/EnableSound"};
    QCOMPARE(writes, expected);
    // The destructor finds the settings already written.
    writes.clear();
    rig.Close();
    QVERIFY(writes.isEmpty());
}

void TestMainForm::PlacementsSurviveRestart()
{
    QTemporaryDir dir;
    QByteArray ini = WindowsIni(3).replace("window count=3", "window count=4");
    ini += "[Alert Window 3]\nsubscription=cat0\n"; // shares the first window's settings
    QRect normalOfMaximised;
    {
        TFormRig rig(ini, dir.path());
        TAlertForm* plain = rig.Window(0);
        TAlertForm* minimised = rig.Window(1);
        TAlertForm* maximised = rig.Window(2);
        TAlertForm* sharing = rig.Window(3);
        plain->move(10, 10);
        plain->resize(250, 150);
        plain->show();
        // Saved after window 0 into the same section: its values are the ones left.
        sharing->move(50, 60);
        sharing->resize(300, 200);
        sharing->hide();
        minimised->move(70, 80);
        minimised->show();
        minimised->showMinimized();
        maximised->move(90, 100);
        maximised->resize(320, 240);
        maximised->show();
        normalOfMaximised = maximised->normalGeometry();
        maximised->showMaximized();
        QTRY_VERIFY(maximised->isMaximized());
    }
    {
        TFormRig rig(ini, dir.path());
        QVERIFY(rig.Window(0)->isHidden());
        QVERIFY(rig.Window(3)->isHidden());
        for (int shared : {0, 3}) {
            QCOMPARE(rig.Window(shared)->pos(), QPoint(50, 60));
            QCOMPARE(rig.Window(shared)->size(), QSize(300, 200));
        }
        QVERIFY(rig.Window(1)->isVisible());
        QVERIFY(rig.Window(1)->isMinimized());
        QVERIFY(rig.Window(2)->isVisible());
        QVERIFY(rig.Window(2)->isMaximized());
        QCOMPARE(rig.Window(2)->normalGeometry().size(), normalOfMaximised.size());
        // Back to normal, it returns to where it stood before it was maximised.
        rig.Window(2)->showNormal();
        QTRY_COMPARE(rig.Window(2)->geometry().size(), normalOfMaximised.size());
    }
}

void TestMainForm::SavedPositionsBeyondTheMonitorMovedBack()
{
    QTemporaryDir dir;
    {
        TSettingsStore store(dir.filePath("settings.ini"));
        store.WriteInteger("Main", "Left", Monitor().right() + 500);
        store.WriteInteger("Main", "Top", Monitor().top() - 40);
        store.WriteInteger("Window:cat0", "Left", Monitor().left() - 100);
        store.WriteInteger("Window:cat0", "Top", Monitor().bottom() - 10);
        store.WriteInteger("Window:cat0", "Width", 200);
        store.WriteInteger("Window:cat0", "Height", 150);
    }
    TFormRig rig(WindowsIni(1), dir.path());
    QVERIFY(Monitor().contains(rig.Form->frameGeometry()));
    QCOMPARE(rig.Form->frameGeometry().right(), Monitor().right());
    QCOMPARE(rig.Form->frameGeometry().top(), Monitor().top());
    TAlertForm* window = rig.Window(0);
    QCOMPARE(window->size(), QSize(200, 150));
    QVERIFY(Monitor().contains(window->frameGeometry()));
    QCOMPARE(window->frameGeometry().left(), Monitor().left());
    QCOMPARE(window->frameGeometry().bottom(), Monitor().bottom());
}

void TestMainForm::FitOntoMonitorRules()
{
    const QRect monitor(0, 0, 800, 600);
    // Wider and taller than the monitor: the left and top edges win.
    QCOMPARE(FitOntoMonitor(QRect(300, 300, 1000, 700), monitor), QRect(0, 0, 1000, 700));
    // A second monitor to the right.
    QCOMPARE(FitOntoMonitor(QRect(1500, 10, 200, 50), QRect(800, 0, 800, 600)),
             QRect(1400, 10, 200, 50));
}

void TestMainForm::FittedAgainOnceTheFrameIsKnown()
{
    QTemporaryDir dir;
    {
        TSettingsStore store(dir.filePath("settings.ini"));
        store.WriteInteger("Main", "Left", Monitor().right() + 500);
        store.WriteInteger("Main", "Top", Monitor().bottom() + 500);
        for (const char* section : {"Window:cat0", "Window:cat1"}) {
            store.WriteInteger(section, "Left", Monitor().right() - 100);
            store.WriteInteger(section, "Top", Monitor().bottom() - 50);
            store.WriteInteger(section, "Width", 200);
            store.WriteInteger(section, "Height", 150);
        }
        store.WriteBool("Window:cat0", "Visible", true);
        store.WriteBool("Window:cat1", "Visible", false);
    }
    TFormRig rig(WindowsIni(2), dir.path());
    TMainForm& form = *rig.Form;
    TAlertForm* visible = rig.Window(0);
    TAlertForm* hidden = rig.Window(1);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(QTest::qWaitForWindowExposed(visible));
    // Before the first show Qt knows no frame, so the fit at start-up saw the client area
    // only. The offscreen platform reports a frame of a few pixels once a window is shown; a
    // platform that reports none leaves nothing to see here.
    if (!HasFrame(&form))
        QSKIP("this platform reports no window frame");

    // Shown: the frame, not just the client area, meets the monitor's right and bottom edges.
    for (QWidget* window : {static_cast<QWidget*>(&form), static_cast<QWidget*>(visible)}) {
        QTRY_COMPARE(window->frameGeometry().right(), Monitor().right());
        QTRY_COMPARE(window->frameGeometry().bottom(), Monitor().bottom());
    }
    QCOMPARE(visible->size(), QSize(200, 150));

    // A hidden window shown later from the list is fitted on that first show.
    form.PageControl1->setCurrentIndex(1);
    QListWidget* list = form.AlertWindowsListBox;
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    QVERIFY(QTest::qWaitForWindowExposed(hidden));
    QVERIFY(HasFrame(hidden));
    QTRY_COMPARE(hidden->frameGeometry().right(), Monitor().right());
    QTRY_COMPARE(hidden->frameGeometry().bottom(), Monitor().bottom());
    QCOMPARE(hidden->size(), QSize(200, 150));

    // Later moves by the user, with the frame unchanged, are the user's own: the window stays
    // where it was put, also across a hide and a show.
    const QPoint partlyOff(Monitor().right() - 50, Monitor().top() + 40);
    visible->move(partlyOff);
    QCoreApplication::processEvents();
    QCOMPARE(visible->pos(), partlyOff);
    visible->hide();
    visible->show();
    QVERIFY(QTest::qWaitForWindowExposed(visible));
    QCoreApplication::processEvents();
    QCOMPARE(visible->pos(), partlyOff);
}

void TestMainForm::ListBoxDoubleClickShowsWindow()
{
    QTemporaryDir dir;
    TFormRig rig(WindowsIni(2), dir.path());
    TMainForm& form = *rig.Form;
    form.show();
    form.PageControl1->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QListWidget* list = form.AlertWindowsListBox;

    // Nothing selected: nothing happens.
    form.AlertWindowsListBoxDblClick();
    QVERIFY(rig.Window(0)->isHidden());
    QVERIFY(rig.Window(1)->isHidden());

    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    QVERIFY(rig.Window(1)->isVisible());
    QVERIFY(rig.Window(0)->isHidden());

    // A minimised window comes back to normal.
    rig.Window(1)->showMinimized();
    QTRY_VERIFY(rig.Window(1)->isMinimized());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    QVERIFY(rig.Window(1)->isVisible());
    QVERIFY(!rig.Window(1)->isMinimized());

    // Also one that was maximised before it was minimised: normal, not maximised.
    rig.Window(1)->setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(rig.Window(1)->windowState(), Qt::WindowNoState);

    // The page control fills the main window at any size, and the list box follows it.
    const QSize listBefore = list->size();
    form.resize(form.width() + 100, form.height() + 60);
    QCOMPARE(form.PageControl1->geometry(), form.rect());
    QTRY_COMPARE(list->size(), listBefore + QSize(100, 60));
}

void TestMainForm::ConfigureExternalLinkingComesBackNormal()
{
    QTemporaryDir dir;
    // The linking socket goes into a private folder of the test's own.
    const QString run = dir.filePath("run");
    QVERIFY(QDir().mkdir(run));
    QVERIFY(QFile::setPermissions(run, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    OverrideLinkPlaces(TLinkPlaces{run, dir.path()});
    const auto restore = qScopeGuard([] { OverrideLinkPlaces(std::nullopt); });
    TExternalLinkingWindow linking(QStringLiteral("vesk-link"), nullptr);
    TFormRig rig(WindowsIni(1), dir.path());
    QCOMPARE(ExternalLinkingWindow(), &linking);

    // Maximised, then minimised: the button brings it back at normal size, as the alert
    // window list does.
    linking.show();
    linking.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
    QTest::mouseClick(rig.Form->ConfigureExternalLinkingButton, Qt::LeftButton);
    QVERIFY(linking.isVisible());
    QCOMPARE(linking.windowState(), Qt::WindowNoState);

    // Hidden: shown.
    linking.hide();
    QTest::mouseClick(rig.Form->ConfigureExternalLinkingButton, Qt::LeftButton);
    QVERIFY(linking.isVisible());
}

void TestMainForm::OptionalControlsAndSoundButton()
{
    QTemporaryDir dir;
    {
        TSettingsStore store(dir.filePath("settings.ini"));
        store.WriteBool("Main", "EnableSound", true);
        store.WriteString("Main", "SoundFileName", "/sounds/spike.wav");
    }
    TFormRig rig("[General]\nsound=1\nexclude list=1\n", dir.path());
    TMainForm& form = *rig.Form;
    QVERIFY(!form.PriceSpikeSoundCheckBox->isHidden());
    QVERIFY(!form.SetupSoundButton->isHidden());
    QVERIFY(!form.QuickStrikeExcludeButton->isHidden());
    QVERIFY(form.PriceSpikeSoundCheckBox->isChecked());
    QVERIFY(form.SetupSoundButton->isEnabled());
    QCOMPARE(form.GetSoundFileName(), QString("/sounds/spike.wav"));

    form.show();
    form.PageControl1->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.PriceSpikeSoundCheckBox, Qt::LeftButton, {}, QPoint(6, form.PriceSpikeSoundCheckBox->height() / 2));
    QVERIFY(!form.PriceSpikeSoundCheckBox->isChecked());
    QVERIFY(!form.SetupSoundButton->isEnabled());
    rig.Close();
    TSettingsStore store(dir.filePath("settings.ini"));
    QVERIFY(!store.ReadBool("Main", "EnableSound", true));
    QCOMPARE(store.ReadString("Main", "SoundFileName"), QString("/sounds/spike.wav"));
}

void TestMainForm::HiddenSoundControlsKeepSilent()
{
    TRecordingPlayer player;
    TScopedSoundPlayer scoped(&player);
    QTemporaryDir dir;
    {
        TSettingsStore store(dir.filePath("settings.ini"));
        store.WriteBool("Main", "EnableSound", true);
    }
    {
        TFormRig rig("[General]\nsound=0\n", dir.path());
        QVERIFY(rig.Form->PriceSpikeSoundCheckBox->isChecked());
        PlayPriceSpikeSound();
        QCOMPARE(rig.Form->GetPriceSpikeSignal().PendingCount(), 0);
        QCoreApplication::processEvents();
        QVERIFY(player.Played.isEmpty());
    }
    {
        TFormRig rig("[General]\nsound=1\n", dir.path());
        PlayPriceSpikeSound();
        // The sound starts from the event loop, never inside the caller's painting.
        QTRY_COMPARE(player.Played, QStringList{"beep"});
    }
    // Without a main window nobody plays.
    PlayPriceSpikeSound();
    QCOMPARE(player.Played.size(), 1);
}

void TestMainForm::SelectSoundPlaysASample()
{
    TRecordingPlayer player;
    TScopedSoundPlayer scoped(&player);
    QTemporaryDir dir;
    const QString wave = dir.filePath("spike.wav");
    QFile file(wave);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    TFormRig rig("[General]\nsound=1\n", dir.path());
    TMainForm& form = *rig.Form;
    form.show();
    form.PageControl1->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.PriceSpikeSoundCheckBox->setChecked(true);
    QVERIFY(form.SetupSoundButton->isEnabled());

    auto answer = [](const QString& choice) {
        QTimer::singleShot(0, [choice] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QVERIFY(dialog->nameFilters().constFirst().startsWith("Wav files"));
            if (choice.isEmpty()) {
                dialog->reject();
            } else {
                dialog->selectFile(choice);
                static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept checks the choice
            }
        });
    };
    // Nothing chosen and nothing set before: the default beep as the sample.
    answer({});
    QTest::mouseClick(form.SetupSoundButton, Qt::LeftButton);
    QCOMPARE(player.Played, QStringList{"beep"});
    QVERIFY(form.GetSoundFileName().isEmpty());

    answer(wave);
    QTest::mouseClick(form.SetupSoundButton, Qt::LeftButton);
    QCOMPARE(form.GetSoundFileName(), wave);
    QCOMPARE(player.Played.last(), wave);
    // The spike itself now plays the file too.
    PlayPriceSpikeSound();
    QTRY_COMPARE(player.Played, (QStringList{"beep", wave, wave}));
}

void TestMainForm::FontGoesToAlertWindowsOnly()
{
    QTemporaryDir dir;
    {
        TFormRig rig(WindowsIni(2), dir.path());
        QFont chosen(QStringLiteral("DejaVu Serif"), 13);
        const QFont own = rig.Form->font();
        rig.Form->SetAlertFont(chosen);
        QCOMPARE(rig.Window(0)->font().pointSize(), 13);
        QCOMPARE(rig.Window(1)->font().family(), chosen.family());
        QCOMPARE(rig.Form->font(), own);
    }
    // The next start gives new windows the saved font.
    TFormRig rig(WindowsIni(1), dir.path());
    QCOMPARE(rig.Window(0)->font().pointSize(), 13);
    QCOMPARE(rig.Form->GetAlertFont().family(), QString("DejaVu Serif"));
}

void TestMainForm::ExclusionListThroughTheDialog()
{
    QTemporaryDir dir;
    TFormRig rig("[General]\nexclude list=1\n", dir.path());
    TMainForm& form = *rig.Form;
    form.show();
    form.PageControl1->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    auto answer = [](const QString& text, bool update) {
        QTimer::singleShot(0, [text, update] {
            auto* dialog = qobject_cast<TQuickstrikeExcludeForm*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->SymbolsMemo->setPlainText(text);
            QTest::mouseClick(update ? dialog->OKButton : dialog->CancelButton, Qt::LeftButton);
        });
    };
    answer("msft\nIBM\nMSFT\n\n", true);
    QTest::mouseClick(form.QuickStrikeExcludeButton, Qt::LeftButton);
    QCOMPARE(QuickStrikeExcludeList().GetItems(), (QList<QByteArray>{"IBM", "msft"}));
    // Cancel keeps the list and throws the edits away.
    answer("XYZ\n", false);
    QTest::mouseClick(form.QuickStrikeExcludeButton, Qt::LeftButton);
    QCOMPARE(QuickStrikeExcludeList().GetItems(), (QList<QByteArray>{"IBM", "msft"}));
    QCOMPARE(form.GetQuickStrikeExcludeForm()->SymbolsMemo->toPlainText().split('\n', Qt::SkipEmptyParts),
             (QStringList{"IBM", "msft"}));
    QuickStrikeExcludeList().Clear();
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
