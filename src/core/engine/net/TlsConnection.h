#pragma once

#include "engine/ProbeConnection.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>

// The connection of an https probe: Qt's TLS socket, which starts plain and
// is encrypted once connected.
class TlsConnection final : public ProbeConnection {
public:
    TlsConnection()
    {
        m_socket.setProxy(QNetworkProxy::NoProxy); // a proxy is our own business
        QObject::connect(&m_socket, &QTcpSocket::connected, [this] {
            if (!m_muted)
                emitConnected();
        });
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] {
            if (!m_muted)
                emitDataArrived();
        });
        const auto closed = [this] {
            if (!m_muted)
                emitPeerClosed();
        };
        QObject::connect(&m_socket, &QTcpSocket::readChannelFinished, closed);
        QObject::connect(&m_socket, &QTcpSocket::disconnected, closed);
        QObject::connect(&m_socket, &QTcpSocket::errorOccurred, [this] {
            if (!m_muted)
                emitFailed();
        });
    }
    ~TlsConnection() override { abort(); }

    QSslSocket &socket() { return m_socket; }

    void connectToHost(const QHostAddress &address, quint16 port) override
    {
        m_socket.connectToHost(address, port);
    }
    bool isConnected() const override
    {
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }
    void write(const QByteArray &bytes) override { m_socket.write(bytes); }
    qint64 bytesAvailable() const override { return m_socket.bytesAvailable(); }
    QByteArray readAll() override { return m_socket.readAll(); }
    QByteArray readLine(qint64 maxSize) override { return m_socket.readLine(maxSize); }
    void flush() override { m_socket.flush(); }
    void abort() override
    {
        // What the close itself signals is not news to the probe.
        m_muted = true;
        m_socket.abort();
        m_muted = false;
    }

private:
    QSslSocket m_socket;
    bool m_muted = false;
};
