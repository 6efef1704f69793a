#pragma once

#include <QByteArray>
#include <QHostAddress>

#include <functional>

// The one connection a probe talks over. Events are delivered through the
// callbacks, from the event loop or from within a call that made progress;
// after abort() none is delivered any more.
class ProbeConnection {
public:
    struct Events {
        std::function<void()> connected;
        std::function<void()> dataArrived;
        std::function<void()> peerClosed; // the other side ended the stream
        std::function<void()> failed;     // connect refused or failed, or a reset
    };

    virtual ~ProbeConnection() = default;

    void setEvents(Events events) { m_events = std::move(events); }

    virtual void connectToHost(const QHostAddress &address, quint16 port) = 0;
    virtual bool isConnected() const = 0;
    // Queued when it cannot all go at once; sent in order.
    virtual void write(const QByteArray &bytes) = 0;
    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray readAll() = 0;
    // Up to and including the next line feed, at most maxSize bytes.
    virtual QByteArray readLine(qint64 maxSize) = 0;
    // Sends what is queued as far as the socket takes it now.
    virtual void flush() = 0;
    // Closes at once; pending data is dropped.
    virtual void abort() = 0;
    // Looks, without waiting, whether the connection made progress (a
    // connect finished, data or the end of the stream arrived) and delivers
    // the events for it. True when something happened. A connection that is
    // only ever told by its events answers false.
    virtual bool pollNow() { return false; }
    // Waits on this connection alone, at most the given microseconds, for
    // the progress pollNow() looks for, and delivers it. A near server
    // answers within that time, which spares a round through the event
    // loop; the wait is far too short for anyone to notice the window
    // pausing. False when nothing happened.
    virtual bool waitBriefly(int /*microseconds*/) { return false; }
    // Called before the caller waits in the event loop: from here on the
    // events of the connection must reach it there.
    virtual void prepareWait() {}

protected:
    void emitConnected() { fire(m_events.connected); }
    void emitDataArrived() { fire(m_events.dataArrived); }
    void emitPeerClosed() { fire(m_events.peerClosed); }
    void emitFailed() { fire(m_events.failed); }

private:
    static void fire(const std::function<void()> &f)
    {
        if (f)
            f();
    }
    Events m_events;
};
