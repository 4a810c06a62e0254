// labels: shell
// The application object: an error that leaves an event handler is shown in a box captioned
// with the application's title, and the program goes on with the next event.

#include "Olvarra/VeskApplication.h"
#include "Platform/VeskError.h"

#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace {

class TThrowingObject : public QObject {
public:
    int Handled = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw EVeskError("the handler failed");
        if (e->type() == QEvent::Type(QEvent::User + 1)) {
            ++Handled;
            return true;
        }
        return QObject::event(e);
    }
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void anErrorIsShownUnderTheTitleAndTheProgramGoesOn();
};

void TestApplication::anErrorIsShownUnderTheTitleAndTheProgramGoesOn()
{
    TVeskApplication::SetCaption(QStringLiteral("Desk Alerts 1.1.31"));
    TThrowingObject target;
    QString caption, text;
    bool seen = false;
    // The box runs its own event loop: look at it from there, then dismiss it.
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            caption = box->windowTitle();
            text = box->text();
            seen = true;
            box->done(QMessageBox::Ok);
        }
    });
    probe.start();
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(QEvent::User + 1)));
    QTRY_VERIFY(seen);
    QCOMPARE(caption, QStringLiteral("Desk Alerts 1.1.31"));
    QCOMPARE(text, QStringLiteral("the handler failed"));
    QTRY_COMPARE(target.Handled, 1);
}

int main(int argc, char** argv)
{
    TVeskApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
