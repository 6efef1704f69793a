#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;
class QTimer;

// Tells when the computer has its connection, so that a poll that found none
// need not wait out its interval. It listens to the kernel's notices of
// changed links, addresses and routes (the things the connection check reads)
// and checks once things have settled; where those notices cannot be had, it
// checks every pollMs instead. Each check that finds a connection emits
// connected(); when that matters is the listener's business.
class ConnectionWatcher : public QObject {
    Q_OBJECT
public:
    enum class Source { KernelNotices, Polling };
    static constexpr int DefaultPollMs = 5000;
    // A change comes as a burst of notices (link, address, route); one check
    // after the burst, at most one a second however busy the network is.
    static constexpr int SettleMs = 1000;

    // check answers whether there is a connection, read afresh.
    explicit ConnectionWatcher(std::function<bool()> check, QObject *parent = nullptr)
        : ConnectionWatcher(std::move(check), Source::KernelNotices, DefaultPollMs, parent)
    {
    }
    ConnectionWatcher(std::function<bool()> check, Source source, int pollMs,
                      QObject *parent = nullptr);
    ~ConnectionWatcher() override;

    // What it follows: KernelNotices falls back to Polling when the kernel's
    // notices cannot be subscribed to.
    Source source() const { return m_source; }

signals:
    void connected();

private:
    bool listenToKernel();
    void drainNotices();
    void check();

    std::function<bool()> m_check;
    Source m_source;
    int m_socket = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer;
};
