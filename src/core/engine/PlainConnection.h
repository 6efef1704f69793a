#pragma once

#include "engine/net/InputBounds.h"
#include "engine/ProbeConnection.h"

#include <memory>

class QSocketNotifier;

// A plain TCP connection straight over a non-blocking socket. It does no
// more than a probe needs, and no more system calls than that: a connect
// that finishes at once (as on loopback or a near server) or an answer that
// is already there is taken without a round through the event loop, and
// waiting is done by socket notifiers in the caller's event loop (see
// prepareWait()), never by blocking.
class PlainConnection final : public ProbeConnection {
public:
    PlainConnection();
    ~PlainConnection() override;
    PlainConnection(const PlainConnection &) = delete;
    PlainConnection &operator=(const PlainConnection &) = delete;

    void connectToHost(const QHostAddress &address, quint16 port) override;
    bool isConnected() const override { return m_state == State::Connected; }
    void write(const QByteArray &bytes) override;
    qint64 bytesAvailable() const override { return m_in.size(); }
    QByteArray readAll() override;
    QByteArray readLine(qint64 maxSize) override;
    void flush() override;
    void abort() override;
    bool pollNow() override;
    bool waitBriefly(int microseconds) override;
    void prepareWait() override;

    // Received bytes held before the reader takes them; reading pauses
    // beyond this until they are taken.
    static constexpr qsizetype InputLimit = InputBounds::ConnectionBuffer;
    // How much of a brief wait is spent looking before sleeping.
    static constexpr int SpinUs = 30;

private:
    enum class State { Idle, Connecting, Connected, Closed };

    bool finishConnect(bool knownWritable);
    void becomeConnected();
    bool readSome();
    void sendQueued();
    void failNow();
    void closeSocket();
    void watchRead(bool on);
    void watchWrite(bool on);

    int m_fd = -1;
    State m_state = State::Idle;
    QByteArray m_in;
    QByteArray m_out;
    // What the connection waits for; the notifiers that watch it in the
    // event loop are made only once the caller waits there.
    bool m_wantRead = false;
    bool m_wantWrite = false;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
};
