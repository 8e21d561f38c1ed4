#pragma once
// Lets Qt's event loop deliver the messages of the main thread's run loop (the voice unit's wake-ups
// and device-failure notices). A sender, possibly the audio thread, only bumps an eventfd: no
// allocation, no lock, no wait. Qt watches the eventfd and, on the main thread, has the run loop
// deliver whatever is pending. Build it on the thread that will initialise the voice unit.

#include <QObject>

class QSocketNotifier;

namespace platform {
class RunLoop;
}

class RunLoopBridge : public QObject {
    Q_OBJECT
public:
    explicit RunLoopBridge(QObject* parent = nullptr);
    ~RunLoopBridge() override;

private:
    static void wake(void* context);
    void deliver();

    platform::RunLoop* _loop;
    int _eventFd;
    QSocketNotifier* _notifier = nullptr;
};
