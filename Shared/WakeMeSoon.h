#pragma once
// Runs one handler soon: after the event being handled now has finished and the thread is
// back in its event loop. However many times it is requested before then, it runs once.

#include <QObject>
#include <functional>

class TWakeMeSoon : public QObject {
    Q_OBJECT
public:
    explicit TWakeMeSoon(QObject* parent = nullptr);
    ~TWakeMeSoon() override;

    // Empty means unassigned.
    std::function<void()> OnWakeUp;

    void Request();
    bool IsPending() const { return Pending; }

private:
    void WndPrc();
    bool Pending = false;
};
