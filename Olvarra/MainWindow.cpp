#include "Olvarra/MainWindow.h"

#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/ExternalLinkingUnit.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Olvarra/PriceSpikeNotice.h"
#include "Olvarra/PriceSpikeSignal.h"
#include "Olvarra/PriceSpikeSound.h"
#include "Olvarra/QuickstrikeExclude.h"
#include "Platform/SettingsStore.h"
#include "Platform/WindowForward.h"
#include "Shared/WakeMeSoon.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <clocale>
#include <limits>

const QString TMainForm::DesignCaption = QStringLiteral("Reraduv Ezerid");
const QString TMainForm::VersionSuffix = QStringLiteral(" 1.1.31");

namespace {

const QString MainSection = QStringLiteral("Main");
constexpr int DesignLeft = 226;
constexpr int DesignTop = 197;
// The designed client area of the window and of a page of its page control; the anchored
// controls of the "Windows" page keep their distances to the page's right and bottom edges.
constexpr int DesignClientWidth = 314;
constexpr int DesignClientHeight = 271;
constexpr int DesignPageWidth = 306;
constexpr int DesignPageHeight = 243;
// The notification check box takes a row of its own below the sound controls; the window is
// that much taller when they are shown, so every designed control keeps its place.
constexpr int SpikeNotificationRow = 25;

// The password field shows "~" for every character typed.
class TTildePasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '~';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLabel* MakeLabel(QWidget* parent, const QString& caption, int left, int top)
{
    auto* label = new QLabel(caption, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QPushButton* MakeButton(QWidget* parent, const QString& caption, const QRect& rect)
{
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(rect);
    return button;
}

QString WindowSection(const TAlertForm* window)
{
    return QStringLiteral("Window:") + QString::fromLatin1(window->GetSubscription() + window->GetSuffix());
}

// Where the window's frame would stand in its normal (restored) state: Qt reports the normal
// rectangle of the client area, so the frame's offset is taken off again.
QPoint NormalFramePos(const QWidget* window)
{
    const QPoint frameOffset = window->geometry().topLeft() - window->frameGeometry().topLeft();
    return window->normalGeometry().topLeft() - frameOffset;
}

int WindowStateNumber(const QWidget* window)
{
    if (window->windowState() & Qt::WindowMinimized)
        return 1;
    if (window->windowState() & Qt::WindowMaximized)
        return 2;
    return 0;
}

void ApplyWindowStateNumber(QWidget* window, int state)
{
    Qt::WindowStates states = window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == 1)
        states |= Qt::WindowMinimized;
    else if (state == 2)
        states |= Qt::WindowMaximized;
    window->setWindowState(states);
}

QScreen* ScreenHolding(const QRect& frame)
{
    if (QScreen* screen = QGuiApplication::screenAt(frame.center()))
        return screen;
    // Wholly off every monitor: the nearest one.
    QScreen* nearest = nullptr;
    qint64 best = std::numeric_limits<qint64>::max();
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const qint64 dx = std::max({0, g.left() - frame.right(), frame.left() - g.right()});
        const qint64 dy = std::max({0, g.top() - frame.bottom(), frame.top() - g.bottom()});
        const qint64 d = dx * dx + dy * dy;
        if (d < best) {
            best = d;
            nearest = screen;
        }
    }
    return nearest;
}

// The frame around a window's client area as the window system reports it; empty until the
// window has been shown (and, under some window managers, for a while after).
QMargins FrameMargins(const QWidget* window)
{
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                    frame.bottom() - client.bottom());
}

// Moves a window onto its monitor again once the window system knows its frame. The fit made
// at start-up sees only the client area: Qt learns the border and the title bar when the
// window is first shown, or even later, when the window manager has framed it. So the window
// is fitted on its first show in the normal state (also a hidden window shown later from the
// list) and again whenever its frame changes while it is shown; a window the user moves
// later, with the same frame, is left where it is put.
class TFrameFit : public QObject {
public:
    explicit TFrameFit(QWidget* window) : QObject(window), Window(window), Check(new TWakeMeSoon(this))
    {
        // After the event: Qt settles a window's position and frame only once the show, move
        // or state change that told us has been handled.
        Check->OnWakeUp = [this] { FitIfFrameChanged(); };
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            Check->Request();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void FitIfFrameChanged()
    {
        if (!Window->isVisible()
            || (Window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
            return;
        const QMargins margins = FrameMargins(Window);
        if (Fitted && margins == FittedMargins)
            return;
        Fitted = true;
        FittedMargins = margins;
        TMainForm::MoveOntoMonitor(Window);
    }

    QWidget* Window;
    TWakeMeSoon* Check;
    bool Fitted = false; // fitted while shown, with FittedMargins
    QMargins FittedMargins;
};

} // namespace

TMainForm::TMainForm(const TMainFormSetup& setup, QWidget* parent)
    : QWidget(parent)
{
    CreateControls();
    FormCreate(setup);
}

TMainForm::~TMainForm()
{
    FormDestroy();
    SetPriceSpikeSoundHandler({});
    SetPriceSpikeNoticeHandler({});
    if (Connection)
        Connection->OnStatusChange = nullptr;
}

void TMainForm::CreateControls()
{
    setWindowTitle(DesignCaption);
    // The designed font; where it is missing, the narrow sans fonts come closest to its
    // metrics, so the designed control sizes still hold their captions.
    QFont designFont(QStringLiteral("MS Sans Serif"), 8);
    designFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                            QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial"),
                            QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed")});
    designFont.setStyleHint(QFont::SansSerif);
    setFont(designFont);
    move(DesignLeft, DesignTop);
    resize(DesignClientWidth, DesignClientHeight);

    PageControl1 = new QTabWidget(this);
    PageControl1->setGeometry(rect());
    ConnectionPage = new QWidget;
    WindowsPage = new QWidget;
    PageControl1->addTab(ConnectionPage, QStringLiteral("Connection"));
    PageControl1->addTab(WindowsPage, QStringLiteral("Windows"));
    PageControl1->setCurrentIndex(0);

    Label3 = MakeLabel(ConnectionPage, QStringLiteral("Status:"), 8, 8);
    // The status stands at its designed place unless the caption before it is wider there.
    StatusLabel = MakeLabel(ConnectionPage, QString(), std::max(48, Label3->geometry().right() + 5), 8);
    FeedHealthLabel = MakeLabel(ConnectionPage, QString(), 8, 26);
    FeedHealthLabel->setObjectName(QStringLiteral("FeedHealthLabel"));
    FeedHealthLabel->setToolTip(QStringLiteral("Round trip of the last ping, alerts per second over the last 10 s, "
                                               "how long this connection has been up, reconnects today"));
    Label1 = MakeLabel(ConnectionPage, QStringLiteral("Username:"), 8, 48);
    UsernameEdit = new QLineEdit(ConnectionPage);
    UsernameEdit->setGeometry(8, 64, 121, 21);
    Label2 = MakeLabel(ConnectionPage, QStringLiteral("Password:"), 144, 48);
    PasswordEdit = new QLineEdit(ConnectionPage);
    PasswordEdit->setGeometry(144, 64, 121, 21);
    auto* tildeStyle = new TTildePasswordStyle;
    tildeStyle->setParent(PasswordEdit);
    PasswordEdit->setStyle(tildeStyle);
    PasswordEdit->setEchoMode(QLineEdit::Password);
    LoginButton = MakeButton(ConnectionPage, QStringLiteral("Login"), QRect(24, 96, 75, 25));
    LoginButton->setDefault(true);
    ResetConnectionButton = MakeButton(ConnectionPage, QStringLiteral("Reset Connection"), QRect(120, 96, 121, 25));
    Label1->setBuddy(UsernameEdit);
    Label2->setBuddy(PasswordEdit);

    Label4 = MakeLabel(WindowsPage, QStringLiteral("Double click on a window's name to make it visible."), 8, 8);
    AlertWindowsListBox = new QListWidget(WindowsPage);
    AlertWindowsListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    ConfigureExternalLinkingButton = new QPushButton(QStringLiteral("Configure External Linking"), WindowsPage);
    SetFontButton = new QPushButton(QStringLiteral("Font"), WindowsPage);
    QuickStrikeExcludeButton = new QPushButton(QStringLiteral("Quickstrike Exclude"), WindowsPage);
    PriceSpikeSoundCheckBox = new QCheckBox(QStringLiteral("Enable Price Spike Audible Signal"), WindowsPage);
    SetupSoundButton = new QPushButton(QStringLiteral("Select Sound"), WindowsPage);
    SetupSoundButton->setEnabled(false);
    PriceSpikeNotificationCheckBox = new QCheckBox(QStringLiteral("Also Show Price Spikes as Desktop Notifications"), WindowsPage);
    PriceSpikeNotificationCheckBox->setObjectName(QStringLiteral("PriceSpikeNotificationCheckBox"));
    PriceSpikeNotificationCheckBox->hide();
    WindowsPage->installEventFilter(this);
    LayOutWindowsPage();

    connect(LoginButton, &QPushButton::clicked, this, &TMainForm::LoginButtonClick);
    // The Login button is the default button: Enter in either field presses it.
    connect(UsernameEdit, &QLineEdit::returnPressed, LoginButton, &QPushButton::click);
    connect(PasswordEdit, &QLineEdit::returnPressed, LoginButton, &QPushButton::click);
    connect(ResetConnectionButton, &QPushButton::clicked, this, &TMainForm::ResetConnectionButtonClick);
    connect(AlertWindowsListBox, &QListWidget::itemDoubleClicked, this, &TMainForm::AlertWindowsListBoxDblClick);
    connect(ConfigureExternalLinkingButton, &QPushButton::clicked, this,
            &TMainForm::ConfigureExternalLinkingButtonClick);
    connect(SetFontButton, &QPushButton::clicked, this, &TMainForm::SetFontButtonClick);
    connect(QuickStrikeExcludeButton, &QPushButton::clicked, this, &TMainForm::QuickStrikeButtonClick);
    connect(PriceSpikeSoundCheckBox, &QCheckBox::toggled, this, &TMainForm::PriceSpikeSoundCheckBoxClick);
    connect(SetupSoundButton, &QPushButton::clicked, this, &TMainForm::SetupSoundButtonClick);
}

void TMainForm::LayOutWindowsPage()
{
    const int dx = WindowsPage->width() - DesignPageWidth;
    const int dy = WindowsPage->height() - DesignPageHeight - NotificationRowHeight;
    AlertWindowsListBox->setGeometry(8, 24, std::max(0, 296 + dx), std::max(0, 138 + dy));
    ConfigureExternalLinkingButton->setGeometry(8, 175 + dy, 137, 25);
    SetFontButton->setGeometry(152, 175 + dy, 33, 25);
    QuickStrikeExcludeButton->setGeometry(192, 175 + dy, 105, 25);
    PriceSpikeSoundCheckBox->setGeometry(8, 206 + dy, 185, 25);
    SetupSoundButton->setGeometry(208, 206 + dy, 89, 25);
    PriceSpikeNotificationCheckBox->setGeometry(8, 231 + dy, 289, 22);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == WindowsPage && event->type() == QEvent::Resize)
        LayOutWindowsPage();
    return QWidget::eventFilter(watched, event);
}

void TMainForm::FormCreate(const TMainFormSetup& setup)
{
    // 1. "." is the decimal separator of every number the process formats or parses,
    // whatever the user's locale; the grids still take the user's thousands separator.
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_NUMERIC, "C");

    // 2.
    Config = TConfigFile::Load(setup.ConfigPath);

    // 3.
    Connection = setup.Connection ? setup.Connection : &MainConnection();
    Connection->OnStatusChange = [this] { ShowStatus(); };
    ShowStatus();
    connect(Connection, &TMainConnection::Ticked, this, &TMainForm::ShowFeedHealth);
    ShowFeedHealth();

    // 4.
    Settings = setup.SettingsPath.isEmpty() ? std::make_unique<TSettingsStore>()
                                            : std::make_unique<TSettingsStore>(setup.SettingsPath);

    // 5.
    UsernameEdit->setText(Settings->ReadString(MainSection, QStringLiteral("User")));
    FontDialog1Font = font();
    FontDialog1Font.setFamily(Settings->ReadString(MainSection, QStringLiteral("FontName"), font().family()));
    const int fontSize = Settings->ReadInteger(MainSection, QStringLiteral("FontSize"), font().pointSize());
    if (fontSize > 0)
        FontDialog1Font.setPointSize(fontSize);
    PriceSpikeSignal = new TPriceSpikeSignal(this);
    PriceSpikeSignal->SetCheckBox(PriceSpikeSoundCheckBox);
    SetSoundFileName(Settings->ReadString(MainSection, QStringLiteral("SoundFileName")));
    PriceSpikeSoundCheckBox->setChecked(Settings->ReadBool(MainSection, QStringLiteral("EnableSound"), false));
    PriceSpikeSoundCheckBoxClick();
    PriceSpikeNotice = std::make_unique<TPriceSpikeNotice>();
    PriceSpikeNotice->SetCheckBox(PriceSpikeNotificationCheckBox);
    PriceSpikeNotificationCheckBox->setChecked(
        Settings->ReadBool(MainSection, QStringLiteral("EnableSpikeNotification"), false));

    // 6.
    SetTitle();

    // 7.
    CreateAlertWindows();
    const bool sound = Config.ReadFlag("General", "sound");
    SetupSoundButton->setVisible(sound);
    PriceSpikeSoundCheckBox->setVisible(sound);
    SetPriceSpikeSoundHandler([this] { PlayPriceSpikeSound(); });
    // The notification belongs to the price-spike signal: shown with its controls.
    PriceSpikeNotificationCheckBox->setVisible(sound);
    if (sound) {
        NotificationRowHeight = SpikeNotificationRow;
        resize(width(), height() + NotificationRowHeight);
        LayOutWindowsPage();
    }
    PriceSpikeNotice->SetAppName(windowTitle());
    SetPriceSpikeNoticeHandler(
        [this](const QByteArray& symbol, double priceSpike) { PriceSpikeNotice->Notify(symbol, priceSpike); });

    // 8.
    move(Settings->ReadInteger(MainSection, QStringLiteral("Left"), DesignLeft),
         Settings->ReadInteger(MainSection, QStringLiteral("Top"), DesignTop));
    MoveOntoMonitor(this);
    new TFrameFit(this); // and once more when the frame is known

    // 9.
    RestoreAlertWindowPlacements();
}

void TMainForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The page control fills the window; the pages' own controls follow their anchors.
    if (PageControl1)
        PageControl1->setGeometry(rect());
}

void TMainForm::SetTitle()
{
    const QString title = QString::fromLatin1(Config.ReadString("General", "title", DesignCaption.toLatin1()))
                          + VersionSuffix;
    // Only the main window carries the title. Qt's application display name would be appended
    // to every other window's caption on X11 ("Fake Data — <title>"), which the windows'
    // designed captions do not have; where each window has its own task-bar entry, the main
    // window's entry shows the title.
    setWindowTitle(title);
}

void TMainForm::CreateAlertWindows()
{
    const int count = std::max(0, Config.ReadInteger("General", "window count", 0));
    AlertWindows.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        auto* window = new TAlertForm(*Connection, nullptr);
        window->setFont(FontDialog1Font);
        window->LoadSettings(Config, "Alert Window " + QByteArray::number(i));
        AlertWindows.push_back(window);
        // Its placement is fitted at step 9, and again when its frame is known (it may be
        // shown there already).
        new TFrameFit(window);
        AlertWindowsListBox->addItem(window->windowTitle());
        Connection->AddCategory(window->GetSubscription());
    }
    QuickStrikeExcludeButton->setVisible(Config.ReadFlag("General", "exclude list"));
}

void TMainForm::RestoreAlertWindowPlacements()
{
    for (TAlertForm* window : AlertWindows) {
        const QString section = WindowSection(window);
        const QRect normal = window->normalGeometry();
        const QPoint framePos = NormalFramePos(window);
        const int width = Settings->ReadInteger(section, QStringLiteral("Width"), normal.width());
        const int height = Settings->ReadInteger(section, QStringLiteral("Height"), normal.height());
        const int left = Settings->ReadInteger(section, QStringLiteral("Left"), framePos.x());
        const int top = Settings->ReadInteger(section, QStringLiteral("Top"), framePos.y());
        const bool visible = Settings->ReadBool(section, QStringLiteral("Visible"), window->isVisible());
        const int state = Settings->ReadInteger(section, QStringLiteral("State"), WindowStateNumber(window));
        window->resize(std::max(1, width), std::max(1, height));
        window->move(left, top);
        // The normal placement is brought onto its monitor before the state is applied, so a
        // window saved minimised or maximised also comes back to a reachable place.
        MoveOntoMonitor(window);
        ApplyWindowStateNumber(window, state);
        window->setVisible(visible);
    }
}

void TMainForm::SaveAlertWindowPlacements()
{
    for (TAlertForm* window : AlertWindows) {
        const QString section = WindowSection(window);
        const QRect normal = window->normalGeometry();
        const QPoint framePos = NormalFramePos(window);
        Settings->WriteInteger(section, QStringLiteral("Width"), normal.width());
        Settings->WriteInteger(section, QStringLiteral("Height"), normal.height());
        Settings->WriteInteger(section, QStringLiteral("Left"), framePos.x());
        Settings->WriteInteger(section, QStringLiteral("Top"), framePos.y());
        Settings->WriteInteger(section, QStringLiteral("State"), WindowStateNumber(window));
        Settings->WriteBool(section, QStringLiteral("Visible"), window->isVisible());
    }
}

void TMainForm::FormDestroy()
{
    // Once only: the destructor calls this too.
    if (SettingsWritten || !Settings)
        return;
    SettingsWritten = true;
    SaveAlertWindowPlacements();
    Settings->WriteString(MainSection, QStringLiteral("User"), UsernameEdit->text());
    Settings->WriteString(MainSection, QStringLiteral("FontName"), FontDialog1Font.family());
    Settings->WriteInteger(MainSection, QStringLiteral("FontSize"), FontDialog1Font.pointSize());
    const QPoint framePos = NormalFramePos(this);
    Settings->WriteInteger(MainSection, QStringLiteral("Left"), framePos.x());
    Settings->WriteInteger(MainSection, QStringLiteral("Top"), framePos.y());
    Settings->WriteString(MainSection, QStringLiteral("SoundFileName"), SoundFileName);
    Settings->WriteBool(MainSection, QStringLiteral("EnableSound"), PriceSpikeSoundCheckBox->isChecked());
    // Only where the user could change it: without the price-spike controls the stored
    // choice is kept as it was.
    if (!PriceSpikeNotificationCheckBox->isHidden())
        Settings->WriteBool(MainSection, QStringLiteral("EnableSpikeNotification"),
                            PriceSpikeNotificationCheckBox->isChecked());
    Settings->Sync();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    event->accept();
    Q_EMIT Closed();
}

void TMainForm::ShowStatus()
{
    StatusLabel->setText(Connection->GetStatus());
    StatusLabel->adjustSize();
}

void TMainForm::ShowFeedHealth()
{
    FeedHealthLabel->setText(FeedHealthText(Connection->GetFeedHealth()));
    FeedHealthLabel->adjustSize();
}

void TMainForm::LoginButtonClick()
{
    const QByteArray prefix = Config.ReadString("General", "prefix");
    const bool digest = Config.ReadString("General", "preprocess password") == "1";
    // The server's texts are single-byte.
    Connection->SetUserName(prefix + UsernameEdit->text().toLatin1());
    const QByteArray password = PasswordEdit->text().toLatin1();
    if (digest)
        Connection->SetPassword(QCryptographicHash::hash(password, QCryptographicHash::Md5).toHex());
    else
        Connection->SetPassword(password);
}

void TMainForm::ResetConnectionButtonClick()
{
    Connection->Reset();
}

void TMainForm::AlertWindowsListBoxDblClick()
{
    const int index = AlertWindowsListBox->currentRow();
    if (index < 0 || size_t(index) >= AlertWindows.size() || !AlertWindowsListBox->currentItem()
        || !AlertWindowsListBox->currentItem()->isSelected())
        return;
    BringWindowForward(AlertWindows[size_t(index)]);
}

void TMainForm::SetAlertFont(const QFont& font)
{
    FontDialog1Font = font;
    for (TAlertForm* window : AlertWindows)
        window->setFont(FontDialog1Font);
}

void TMainForm::SetFontButtonClick()
{
    QFontDialog dialog(FontDialog1Font, this);
    if (dialog.exec() == QDialog::Accepted)
        SetAlertFont(dialog.selectedFont());
}

void TMainForm::QuickStrikeButtonClick()
{
    if (!ExcludeForm)
        ExcludeForm = new TQuickstrikeExcludeForm(this);
    ::QuickStrikeButtonClick(*ExcludeForm);
}

void TMainForm::ConfigureExternalLinkingButtonClick()
{
    if (TExternalLinkingWindow* window = ExternalLinkingWindow())
        window->ShowLinkingWindow();
}

void TMainForm::PriceSpikeSoundCheckBoxClick()
{
    SetupSoundButton->setEnabled(PriceSpikeSoundCheckBox->isChecked());
}

void TMainForm::SetSoundFileName(const QString& fileName)
{
    SoundFileName = fileName;
    if (PriceSpikeSignal)
        PriceSpikeSignal->SetSoundFileName(fileName);
}

void TMainForm::SetupSoundButtonClick()
{
    QFileDialog dialog(this);
    dialog.setNameFilter(QStringLiteral("Wav files (*.wav)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!SoundFileName.isEmpty()) {
        dialog.setDirectory(QFileInfo(SoundFileName).absolutePath());
        dialog.selectFile(SoundFileName);
    } else {
        dialog.setDirectory(QDir::currentPath());
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        SetSoundFileName(dialog.selectedFiles().constFirst());
    // A sample, chosen or not, so the user hears what a spike will sound like.
    PriceSpikeSignal->PlaySample();
}

void TMainForm::PlayPriceSpikeSound()
{
    PriceSpikeSignal->Play();
}

QRect TMainForm::FitOntoMonitor(QRect frame, const QRect& monitor)
{
    if (frame.right() > monitor.right())
        frame.moveRight(monitor.right());
    if (frame.left() < monitor.left())
        frame.moveLeft(monitor.left());
    if (frame.bottom() > monitor.bottom())
        frame.moveBottom(monitor.bottom());
    if (frame.top() < monitor.top())
        frame.moveTop(monitor.top());
    return frame;
}

void TMainForm::MoveOntoMonitor(QWidget* window)
{
    const QRect frame = window->frameGeometry();
    QScreen* screen = ScreenHolding(frame);
    if (!screen)
        return;
    const QRect fitted = FitOntoMonitor(frame, screen->availableGeometry());
    if (fitted.topLeft() != frame.topLeft())
        window->move(fitted.topLeft());
}
