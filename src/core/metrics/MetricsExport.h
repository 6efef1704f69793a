#pragma once

#include "config/ProgramContext.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class MetricsCollector;
class MetricsListener;
class Monitor;

// Hands the monitor's results to a Prometheus server: after every poll the
// metrics go to quellmark.prom in the metrics folder (for the node
// exporter's textfile collector) and to the program's /metrics endpoint,
// each where switched on. A file that cannot be written is told once (the
// error log and the status pane), until a write works again; polling goes
// on regardless.
class MetricsExport : public QObject {
    Q_OBJECT
public:
    MetricsExport(Monitor *monitor, const ProgramContext &context,
                  std::function<QDateTime()> now = {}, QObject *parent = nullptr);
    ~MetricsExport() override;

    // The metrics folder as its setting shows it now; read after each poll.
    void setFolderSource(std::function<QString()> folder);
    // Serves /metrics at the address given as "host:port" (empty: off).
    // Empty on success (or when it already listens there), else why not.
    QString listenOn(const QString &setting);
    MetricsListener *listener() const { return m_listener; }
    // The metrics as the last poll left them.
    QByteArray text() const;
    // Writes the problem to the error log and tells it as a status line.
    void report(const QString &text);

signals:
    void problem(const QString &text);

private:
    void publish();

    ProgramContext m_context;
    std::function<QDateTime()> m_now;
    MetricsCollector *m_collector;
    MetricsListener *m_listener;
    std::function<QString()> m_folder;
    QString m_lastProblem;
    bool m_published = false;
};
