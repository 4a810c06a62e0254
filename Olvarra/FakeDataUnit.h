#pragma once
// The Fake Data window: pushes a hand-typed alert message into the client exactly where real
// alert messages enter, and holds the tuning delay of the price-spike signal.

#include <QByteArray>
#include <QWidget>

class TConfigFile;
class QLabel;
class QLineEdit;
class QPushButton;

class TFakeDataForm : public QWidget {
    Q_OBJECT
public:
    // The window of start-up: visible exactly when "debug" in "General" is "1". The first
    // one constructed this way is the one whose delay the price-spike signal uses.
    explicit TFakeDataForm(const TConfigFile& config, QWidget* parent = nullptr);
    ~TFakeDataForm() override;

    // The subscription, CR LF and the data, handed to the main connection as an alert.
    void SendButtonClick();
    // A further window with the same subscription and data (not the delay), shown.
    TFakeDataForm* DuplicateButtonClick();

    // The delay edit as a decimal whole number; 0 when empty or not a number.
    int SoundDelay() const;

    QLabel* Label1 = nullptr;
    QLineEdit* SubscriptionEdit = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* DataEdit = nullptr;
    QPushButton* SendButton = nullptr;
    QPushButton* DuplicateButton = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* SoundDelayEdit = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct TDuplicate {};
    TFakeDataForm(TDuplicate, QWidget* parent);
    void CreateControls();
    void FormCreate(const TConfigFile& config);
};

// The window created at start-up, or nullptr once it has been closed.
TFakeDataForm* StartFakeDataForm();
// Its SoundDelay(), or 0 when it is gone.
int StartSoundDelay();
