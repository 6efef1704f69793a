#include "TfrmError.h"

#include "engine/Monitor.h"

#include "ui_TfrmError.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace {
const QColor Red(255, 0, 0);
const QColor White(255, 255, 255);

Qt::WindowFlags flagsFor(bool bordered)
{
    Qt::WindowFlags flags = Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint;
    if (bordered)
        flags |= Qt::WindowTitleHint;
    else
        flags |= Qt::FramelessWindowHint;
    return flags;
}
} // namespace

TfrmError::TfrmError(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::TfrmError>())
{
    ui->setupUi(this);
    setWindowFlags(flagsFor(true));
    setContentsMargins(2, 2, 2, 2);

    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    font.setBold(true);
    ui->lblError->setFont(font);
    ui->lblError->setFixedWidth(LabelWidth);
    applyColours(Red, White);

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().topLeft());
    ui->lblError->clear();
    fitToLabel();

    // Runs for the whole life of the window, shown or not, so hiding and
    // showing never restarts the colour sequence.
    m_blinkTimer = new QTimer(this);
    m_blinkTimer->setInterval(1000);
    connect(m_blinkTimer, &QTimer::timeout, this, &TfrmError::blink);
    m_blinkTimer->start();
}

TfrmError::~TfrmError() = default;

QString TfrmError::text() const
{
    return ui->lblError->text();
}

void TfrmError::setText(const QString &text)
{
    // The summary's lines are separated by CR LF; a label breaks at LF.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    ui->lblError->setText(shown);
    if (isVisible())
        fitToLabel();
}

bool TfrmError::wordWrap() const
{
    return ui->lblError->wordWrap();
}

void TfrmError::setWordWrap(bool on)
{
    ui->lblError->setWordWrap(on);
    if (on) {
        ui->lblError->setFixedWidth(LabelWidth);
    } else {
        ui->lblError->setMinimumWidth(0);
        ui->lblError->setMaximumWidth(QWIDGETSIZE_MAX);
    }
    if (isVisible())
        fitToLabel();
}

void TfrmError::setBordered(bool bordered)
{
    if (bordered == m_bordered)
        return;
    m_bordered = bordered;
    const bool wasVisible = isVisible();
    const QPoint where = pos();
    setWindowFlags(flagsFor(bordered));
    move(where);
    if (wasVisible)
        show();
}

QColor TfrmError::textColor() const
{
    return ui->lblError->palette().color(QPalette::WindowText);
}

QColor TfrmError::backgroundColor() const
{
    return ui->lblError->palette().color(QPalette::Window);
}

void TfrmError::blink()
{
    if (textColor() == White)
        applyColours(Red, White);
    else
        applyColours(White, Red);
}

void TfrmError::applyColours(const QColor &text, const QColor &background)
{
    QPalette palette = ui->lblError->palette();
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Window, background);
    ui->lblError->setPalette(palette);
}

void TfrmError::fitToLabel()
{
    QLabel *label = ui->lblError;
    QSize size;
    if (label->wordWrap()) {
        // Measured from the text itself: the label's own height-for-width
        // answer is held back by the size it was given last time.
        const QRect text = label->fontMetrics().boundingRect(
            QRect(0, 0, LabelWidth, 100000), Qt::AlignHCenter | Qt::TextWordWrap, label->text());
        size = QSize(LabelWidth, qMax(text.height(), label->fontMetrics().height()) + 2 * label->margin());
    } else {
        size = label->sizeHint();
    }
    label->setFixedSize(size);
    setFixedSize(size + QSize(contentsMargins().left() + contentsMargins().right(),
                              contentsMargins().top() + contentsMargins().bottom()));
}

void TfrmError::showEvent(QShowEvent *event)
{
    fitToLabel();
    QWidget::showEvent(event);
}

void TfrmError::follow(Monitor *monitor)
{
    if (m_followed)
        disconnect(m_followed, nullptr, this, nullptr);
    m_followed = monitor;
    if (!monitor)
        return;
    connect(monitor, &Monitor::errorWindowText, this, &TfrmError::setText);
    connect(monitor, &Monitor::errorWindowBordered, this, &TfrmError::setBordered);
    connect(monitor, &Monitor::errorWindowWordWrap, this, &TfrmError::setWordWrap);
    connect(monitor, &Monitor::errorWindowShown, this, [this](bool shown) { setVisible(shown); });
}
