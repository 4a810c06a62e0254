#include "Olvarra/QuickstrikeExclude.h"

#include "Olvarra/AlertWindowUnit.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

TQuickstrikeExcludeForm::TQuickstrikeExcludeForm(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Quickstrike Exclude"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(181, 335);
    setAttribute(Qt::WA_QuitOnClose, false);

    SymbolsMemo = new QPlainTextEdit(this);
    SymbolsMemo->setGeometry(0, 0, 181, 297);
    SymbolsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SymbolsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);

    OKButton = new QPushButton(QStringLiteral("Update"), this);
    OKButton->setGeometry(7, 303, 75, 25);
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setGeometry(95, 303, 75, 25);

    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TQuickstrikeExcludeForm::showEvent(QShowEvent* event)
{
    // Centred on the screen, whichever window opened it.
    if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

void ApplyQuickStrikeExclude(TQuickstrikeExcludeForm& form, bool accepted, TQuickStrikeExcludeList& list)
{
    if (accepted) {
        list.Clear();
        const QStringList lines = form.SymbolsMemo->toPlainText().split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            // A blank typed after a symbol would make it match nothing the server sends.
            const QByteArray symbol = line.trimmed().toLatin1();
            if (!symbol.isEmpty())
                list.Add(symbol);
        }
    }
    QStringList shown;
    for (const QByteArray& symbol : list.GetItems())
        shown << QString::fromLatin1(symbol);
    form.SymbolsMemo->setPlainText(shown.join(QLatin1Char('\n')));
}

void QuickStrikeButtonClick(TQuickstrikeExcludeForm& form, TQuickStrikeExcludeList& list)
{
    const bool accepted = form.exec() == QDialog::Accepted;
    ApplyQuickStrikeExclude(form, accepted, list);
}

void QuickStrikeButtonClick(TQuickstrikeExcludeForm& form)
{
    QuickStrikeButtonClick(form, QuickStrikeExcludeList());
}
