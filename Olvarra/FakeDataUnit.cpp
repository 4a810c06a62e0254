#include "Olvarra/FakeDataUnit.h"

#include "Olvarra/ConfigFile.h"
#include "Olvarra/MainConnectionUnit.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {

QPointer<TFakeDataForm>& StartForm()
{
    static QPointer<TFakeDataForm> form;
    return form;
}

constexpr int Margin = 8;
constexpr int EditHeight = 21;

} // namespace

TFakeDataForm::TFakeDataForm(const TConfigFile& config, QWidget* parent) : QWidget(parent)
{
    CreateControls();
    if (!StartForm())
        StartForm() = this;
    FormCreate(config);
}

TFakeDataForm::TFakeDataForm(TDuplicate, QWidget* parent) : QWidget(parent)
{
    CreateControls();
}

TFakeDataForm::~TFakeDataForm() = default;

void TFakeDataForm::CreateControls()
{
    setWindowTitle(QStringLiteral("Fake Data"));
    // Closing a Fake Data window destroys it; its texts and delay go with it.
    setAttribute(Qt::WA_DeleteOnClose);
    // A developer's tool window: it must not keep the program running once the main window
    // has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(297, 192);

    auto label = [this](const QString& text, int top) {
        auto* l = new QLabel(text, this);
        l->move(Margin, top);
        l->adjustSize();
        return l;
    };
    auto edit = [this](int top) {
        auto* e = new QLineEdit(this);
        e->setGeometry(Margin, top, 281, EditHeight);
        return e;
    };
    auto button = [this](const QString& text, int left) {
        auto* b = new QPushButton(text, this);
        b->setGeometry(left, 104, 75, 25);
        // A focused button takes Enter itself; anywhere else Enter means Send.
        b->setAutoDefault(true);
        return b;
    };

    Label1 = label(QStringLiteral("Subscription:"), 8);
    SubscriptionEdit = edit(24);
    Label2 = label(QStringLiteral("Data:"), 56);
    DataEdit = edit(72);
    SendButton = button(QStringLiteral("Send"), 8);
    SendButton->setDefault(true);
    DuplicateButton = button(QStringLiteral("Duplicate"), 216);
    Label3 = label(QStringLiteral("Price Spike audible alert delay (milliseconds):"), 144);
    SoundDelayEdit = edit(160);
    SoundDelayEdit->setLayoutDirection(Qt::LeftToRight);

    setTabOrder(SubscriptionEdit, DataEdit);
    setTabOrder(DataEdit, SendButton);
    setTabOrder(SendButton, DuplicateButton);
    setTabOrder(DuplicateButton, SoundDelayEdit);

    connect(SendButton, &QPushButton::clicked, this, [this] { SendButtonClick(); });
    connect(DuplicateButton, &QPushButton::clicked, this, [this] { DuplicateButtonClick(); });
}

void TFakeDataForm::FormCreate(const TConfigFile& config)
{
    // Only the exact text "1" turns debug mode on; "true" does not.
    setVisible(config.ReadFlag("General", "debug"));
}

void TFakeDataForm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        SendButton->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFakeDataForm::resizeEvent(QResizeEvent* event)
{
    // The edits stretch with the window; left and top stay.
    const int width = qMax(0, this->width() - 2 * Margin);
    for (QLineEdit* edit : {SubscriptionEdit, DataEdit, SoundDelayEdit})
        edit->resize(width, edit->height());
    QWidget::resizeEvent(event);
}

void TFakeDataForm::SendButtonClick()
{
    // Exactly where the server's alerts enter: as the answer to listen_for_alerts.
    const QByteArray body = SubscriptionEdit->text().toLatin1() + "\r\n" + DataEdit->text().toLatin1();
    MainConnection().ListenResponse(true, body, TMessageToServer{});
}

TFakeDataForm* TFakeDataForm::DuplicateButtonClick()
{
    auto* copy = new TFakeDataForm(TDuplicate{}, nullptr);
    copy->SubscriptionEdit->setText(SubscriptionEdit->text());
    copy->DataEdit->setText(DataEdit->text());
    copy->show();
    return copy;
}

int TFakeDataForm::SoundDelay() const
{
    bool ok = false;
    const int value = SoundDelayEdit->text().trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

TFakeDataForm* StartFakeDataForm()
{
    return StartForm();
}

int StartSoundDelay()
{
    TFakeDataForm* form = StartForm();
    return form ? form->SoundDelay() : 0;
}
