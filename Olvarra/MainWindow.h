#pragma once
// The main window: the control panel of the client. Its "Connection" page logs in and shows
// the connection status; its "Windows" page lists the alert windows, sets their font, edits
// the QuickStrike exclusion list, opens the external-linking window and governs the
// price-spike sound. It reads Vesk.ini once, creates the alert windows it describes, and
// keeps the user's choices in the per-user settings store.

#include "Olvarra/ConfigFile.h"
#include "Olvarra/QuickstrikeExclude.h"

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class TAlertForm;
class TMainConnection;
class TPriceSpikeNotice;
class TPriceSpikeSignal;
class TSettingsStore;

// Where the main window gets what it reads. The defaults are the program's own: Vesk.ini in
// the current folder, the current user's settings, the process's main connection.
struct TMainFormSetup {
    QString ConfigPath = QStringLiteral("Vesk.ini");
    QString SettingsPath;                  // empty: the current user's store
    TMainConnection* Connection = nullptr; // none: MainConnection()
};

class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(const TMainFormSetup& setup = TMainFormSetup(), QWidget* parent = nullptr);
    // Writes the settings (FormDestroy) unless that has been done already.
    ~TMainForm() override;

    // Event handlers.
    void FormDestroy();
    void LoginButtonClick();
    void ResetConnectionButtonClick();
    void AlertWindowsListBoxDblClick();
    void SetFontButtonClick();
    void QuickStrikeButtonClick();
    void ConfigureExternalLinkingButtonClick();
    void PriceSpikeSoundCheckBoxClick();
    void SetupSoundButtonClick();
    void ShowStatus();
    // The feed-health line under the status, on every tick of the main connection.
    void ShowFeedHealth();

    // The price-spike signal (installed as the process's PlayPriceSpikeSound handler while
    // this window lives). Returns at once.
    void PlayPriceSpikeSound();

    // Takes every alert window into the chosen font (what SetFontButtonClick does when the
    // user confirms the dialog).
    void SetAlertFont(const QFont& font);
    const QFont& GetAlertFont() const { return FontDialog1Font; }

    const TConfigFile& GetConfig() const { return Config; }
    TSettingsStore& GetSettings() const { return *Settings; }
    TMainConnection& GetConnection() const { return *Connection; }
    TPriceSpikeSignal& GetPriceSpikeSignal() const { return *PriceSpikeSignal; }
    TPriceSpikeNotice& GetPriceSpikeNotice() const { return *PriceSpikeNotice; }
    const std::vector<TAlertForm*>& GetAlertWindows() const { return AlertWindows; }
    const QString& GetSoundFileName() const { return SoundFileName; }
    void SetSoundFileName(const QString& fileName);

    // The exclusion dialog created at start-up (not owned). Without one the first click of
    // "Quickstrike Exclude" makes one of its own.
    void SetQuickStrikeExcludeForm(TQuickstrikeExcludeForm* form) { ExcludeForm = form; }
    TQuickstrikeExcludeForm* GetQuickStrikeExcludeForm() const { return ExcludeForm; }

    // The design's caption, before "title" replaces it.
    static const QString DesignCaption;
    static const QString VersionSuffix;


    // Controls, by their design names.
    QTabWidget* PageControl1 = nullptr;
    QWidget* ConnectionPage = nullptr;
    QWidget* WindowsPage = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* StatusLabel = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* UsernameEdit = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* PasswordEdit = nullptr;
    QPushButton* LoginButton = nullptr;
    QPushButton* ResetConnectionButton = nullptr;
    QLabel* Label4 = nullptr;
    QListWidget* AlertWindowsListBox = nullptr;
    QPushButton* ConfigureExternalLinkingButton = nullptr;
    QPushButton* SetFontButton = nullptr;
    QPushButton* QuickStrikeExcludeButton = nullptr;
    QCheckBox* PriceSpikeSoundCheckBox = nullptr;
    QPushButton* SetupSoundButton = nullptr;
    // Beyond the design: the feed-health line and the desktop notification of spikes.
    QLabel* FeedHealthLabel = nullptr;
    QCheckBox* PriceSpikeNotificationCheckBox = nullptr;

Q_SIGNALS:
    // The user closed the main window: the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void FormCreate(const TMainFormSetup& setup);
    void SetTitle();
    void CreateAlertWindows();
    void RestoreAlertWindowPlacements();
    void SaveAlertWindowPlacements();
    void LayOutWindowsPage();

    TConfigFile Config;
    std::unique_ptr<TSettingsStore> Settings;
    TMainConnection* Connection = nullptr;
    std::vector<TAlertForm*> AlertWindows; // not owned: they live to the end of the process
    QFont FontDialog1Font;
    QString SoundFileName;
    TPriceSpikeSignal* PriceSpikeSignal = nullptr;
    std::unique_ptr<TPriceSpikeNotice> PriceSpikeNotice;
    int NotificationRowHeight = 0; // the row under the sound controls, when they are shown
    QPointer<TQuickstrikeExcludeForm> ExcludeForm;
    bool SettingsWritten = false;
};
