#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// A real prometheus-node-exporter with only its textfile collector, on a
// free loopback port, reading the metrics folder a test gives it.
class NodeExporter {
public:
    NodeExporter() = default;
    ~NodeExporter();
    static QString path();
    static bool available() { return !path().isEmpty(); }
    // Starts it and waits until it answers; false (with error()) when not.
    bool start(const QString &textfileFolder);
    // The body of GET /metrics; empty when it did not answer.
    QByteArray scrape();
    QString error() const { return m_error; }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
