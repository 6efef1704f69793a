#include "ResponseChart.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {
const QColor LineColour(20, 90, 200);
const QColor RangeColour(20, 90, 200, 60);
const QColor OutageFill(215, 0, 0, 45);
const QColor OutageHatch(170, 0, 0, 150);

// 1, 2 or 5 times a power of ten, at least value.
int niceCeiling(int value)
{
    if (value <= 10)
        return 10;
    const double power = std::pow(10.0, std::floor(std::log10(double(value))));
    for (const int step : {1, 2, 5, 10}) {
        if (step * power >= value)
            return int(step * power);
    }
    return value;
}

QBrush outageBrush()
{
    QBrush hatch(OutageHatch, Qt::BDiagPattern);
    return hatch;
}
} // namespace

ResponseChart::ResponseChart(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("chartResponse"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ResponseChart::showService(ResponseHistory *history, const QString &service, qint64 fromMs,
                                qint64 toMs)
{
    m_history = history;
    m_service = service;
    m_message.clear();
    m_fromMs = fromMs;
    m_toMs = toMs;
    fetch();
    update();
}

void ResponseChart::showMessage(const QString &text)
{
    m_history = nullptr;
    m_service.clear();
    m_message = text;
    m_data = ResponseChartData();
    update();
}

QRect ResponseChart::plotRect() const
{
    const int line = fontMetrics().height();
    const int left = fontMetrics().horizontalAdvance(QStringLiteral("00000 ms")) + 6;
    return rect().adjusted(left, line + 8, -10, -(line + 6));
}

void ResponseChart::fetch()
{
    if (!m_history || m_service.isEmpty()) {
        m_data = ResponseChartData();
        return;
    }
    m_data = m_history->chart(m_service, m_fromMs, m_toMs, qMax(1, plotRect().width()));
}

void ResponseChart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_history && m_data.columns.size() != size_t(qMax(1, plotRect().width())))
        fetch();
}

void ResponseChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    p.setPen(palette().color(QPalette::Text));
    const QFontMetrics fm = fontMetrics();
    if (!m_message.isEmpty() || m_service.isEmpty()) {
        p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, m_message);
        return;
    }
    const QRect plot = plotRect();
    if (plot.width() < 10 || plot.height() < 10)
        return;

    // Title on the left, legend on the right: the outage key is a hatched
    // box, so it does not rest on colour alone.
    p.drawText(QRect(4, 2, width() - 8, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Response time: %1").arg(m_service));
    const QString outageLabel = QStringLiteral("outage");
    const QString lineLabel = QStringLiteral("response time");
    int x = width() - 6 - fm.horizontalAdvance(outageLabel);
    p.drawText(QPoint(x, 2 + fm.ascent()), outageLabel);
    const QRect key(x - 18, 2 + (fm.height() - 10) / 2, 14, 10);
    p.fillRect(key, OutageFill);
    p.fillRect(key, outageBrush());
    x = key.left() - 10 - fm.horizontalAdvance(lineLabel);
    p.drawText(QPoint(x, 2 + fm.ascent()), lineLabel);
    p.setPen(QPen(LineColour, 2));
    p.drawLine(x - 18, 2 + fm.height() / 2, x - 4, 2 + fm.height() / 2);

    const qint64 span = qMax<qint64>(1, m_data.toMs - m_data.fromMs);
    const auto xOf = [&](qint64 t) {
        return plot.left() + double(t - m_data.fromMs) * plot.width() / double(span);
    };
    const int top = niceCeiling(qMax(1, m_data.maxMs));
    const auto yOf = [&](double ms) { return plot.bottom() - ms * plot.height() / top; };

    // Grid and the value axis.
    const QColor grid = palette().color(QPalette::Mid);
    for (int i = 0; i <= 4; ++i) {
        const double value = top * i / 4.0;
        const int y = int(std::lround(yOf(value)));
        p.setPen(QPen(grid, 1, i == 0 ? Qt::SolidLine : Qt::DotLine));
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QRect(0, y - fm.height() / 2, plot.left() - 4, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1 ms").arg(qRound(value)));
    }

    // Time axis: five labels, times of day for up to two days, else dates.
    const QLocale locale;
    const bool shortSpan = span <= 2LL * 24 * 3600 * 1000;
    for (int i = 0; i <= 4; ++i) {
        const qint64 t = m_data.fromMs + span * i / 4;
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(t).toLocalTime();
        const QString label = shortSpan ? locale.toString(when.time(), QLocale::ShortFormat)
                                        : locale.toString(when.date(), QStringLiteral("d MMM"));
        const int lx = int(std::lround(xOf(t)));
        const int w = fm.horizontalAdvance(label);
        const int left = qBound(0, lx - w / 2, width() - w);
        p.drawText(QPoint(left, plot.bottom() + 4 + fm.ascent()), label);
        p.setPen(QPen(grid, 1));
        p.drawLine(lx, plot.bottom(), lx, plot.bottom() + 3);
        p.setPen(palette().color(QPalette::Text));
    }

    // Outages first, so the line stays on top.
    for (const ResponseChartData::Outage &o : m_data.outages) {
        const double x1 = qBound<double>(plot.left(), xOf(o.fromMs), plot.right());
        const double x2 = qBound<double>(plot.left(), xOf(o.toMs), plot.right());
        const QRectF band(x1, plot.top(), qMax(2.0, x2 - x1), plot.height());
        p.fillRect(band, OutageFill);
        p.fillRect(band, outageBrush());
    }

    if (m_data.empty()) {
        p.setPen(palette().color(QPalette::Text));
        p.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap,
                   QStringLiteral("No response times recorded in this period"));
        return;
    }

    // Each column's range as a thin bar, the means joined by a line that
    // breaks where an outage lies between two answers.
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath line;
    bool drawing = false;
    double lastX = 0;
    int used = 0;
    const auto outageBetween = [&](double xa, double xb) {
        for (const ResponseChartData::Outage &o : m_data.outages) {
            if (xOf(o.toMs) > xa && xOf(o.fromMs) < xb)
                return true;
        }
        return false;
    };
    for (size_t c = 0; c < m_data.columns.size(); ++c) {
        const ResponseChartData::Column &column = m_data.columns[c];
        if (column.answers == 0)
            continue;
        ++used;
        const double cx = plot.left() + double(c) + 0.5;
        if (column.maxMs > column.minMs) {
            p.setPen(QPen(RangeColour, 1));
            p.drawLine(QPointF(cx, yOf(column.minMs)), QPointF(cx, yOf(column.maxMs)));
        }
        const QPointF point(cx, yOf(column.meanMs));
        if (drawing && !outageBetween(lastX, cx))
            line.lineTo(point);
        else
            line.moveTo(point);
        drawing = true;
        lastX = cx;
    }
    p.setPen(QPen(LineColour, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(line);
    // Few points: each one marked, so a lone answer between outages shows.
    if (used * 4 < plot.width()) {
        p.setBrush(LineColour);
        for (size_t c = 0; c < m_data.columns.size(); ++c) {
            const ResponseChartData::Column &column = m_data.columns[c];
            if (column.answers > 0)
                p.drawEllipse(QPointF(plot.left() + double(c) + 0.5, yOf(column.meanMs)), 2.2, 2.2);
        }
    }
}
