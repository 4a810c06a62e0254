#include "Olvarra/MainWindow.h"

#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/ExternalLinkingUnit.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Olvarra/PriceSpikeNotice.h"
#include "Olvarra/PriceSpikeSignal.h"
#include "Olvarra/PriceSpikeSound.h"
#include "Olvarra/QuickstrikeExclude.h"
#include "Olvarra/WindowPlacement.h"
#include "Platform/SettingsStore.h"
#include "Platform/WindowForward.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QProxyStyle>
#include <QPushButton>
#include <QTabWidget>
#include <clocale>

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
    KeepFittingOnceFramed(this); // and once more when the frame is known

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
        KeepFittingOnceFramed(window);
        AlertWindowsListBox->addItem(window->windowTitle());
        Connection->AddCategory(window->GetSubscription());
    }
    QuickStrikeExcludeButton->setVisible(Config.ReadFlag("General", "exclude list"));
}

void TMainForm::RestoreAlertWindowPlacements()
{
    for (TAlertForm* window : AlertWindows)
        RestoreWindowPlacement(*Settings, WindowSection(window), window);
}

void TMainForm::SaveAlertWindowPlacements()
{
    for (TAlertForm* window : AlertWindows)
        SaveWindowPlacement(*Settings, WindowSection(window), window);
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
