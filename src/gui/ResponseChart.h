#pragma once

#include "stats/ResponseHistory.h"

#include <QWidget>

// The statistics window's chart of a service's response times over the
// chosen period, with its outages marked as hatched bands.
//
// A small painter widget rather than QtCharts: the chart is one series and
// some bands, which QPainter draws in a page of code, while QtCharts would
// add a package (and a large library) to what the program depends on for
// this one picture. The database shrinks the period to one value range per
// pixel column, so even 90 days of points draw at once.
class ResponseChart : public QWidget {
    Q_OBJECT
public:
    explicit ResponseChart(QWidget *parent = nullptr);

    // Charts the service between the two moments (UTC, ms since the epoch),
    // read from the history whenever the chart's width changes.
    void showService(ResponseHistory *history, const QString &service, qint64 fromMs, qint64 toMs);
    // No chart, only the text.
    void showMessage(const QString &text);

    QString service() const { return m_service; }
    QString message() const { return m_message; }
    const ResponseChartData &data() const { return m_data; }

    QSize sizeHint() const override { return {400, 150}; }
    QSize minimumSizeHint() const override { return {200, 90}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QRect plotRect() const;
    void fetch();

    ResponseHistory *m_history = nullptr;
    QString m_service;
    QString m_message;
    qint64 m_fromMs = 0;
    qint64 m_toMs = 0;
    ResponseChartData m_data;
};
