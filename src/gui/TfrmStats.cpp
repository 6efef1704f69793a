#include "TfrmStats.h"

#include "Dialogs.h"
#include "ResponseChart.h"
#include "ui_TfrmStats.h"

#include "stats/DowntimeStats.h"
#include "stats/StatsError.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>

#include <utility>

TfrmStats::TfrmStats(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::TfrmStats>())
{
    ui->setupUi(this);
    setWindowFlag(Qt::Window);
    ui->cmbReports->addItems(DowntimeStats::periodNames());
    ui->cmbReports->setCurrentIndex(0);

    QPalette silver = ui->LogList->palette();
    silver.setColor(QPalette::Base, QColor(192, 192, 192));
    ui->LogList->setPalette(silver);

    // Reports line up in columns: a fixed-pitch font.
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSize(8);
    if (!QFontInfo(font).fixedPitch()) {
        const int size = font.pointSize();
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(size);
    }
    ui->memoStats->setFont(font);

    // The response time chart shares the right side with the report.
    m_chart = new ResponseChart(this);
    auto *split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("splitReport"));
    split->setChildrenCollapsible(false);
    // The layout hands back the report's old item; it is ours to delete.
    delete ui->layout->replaceWidget(ui->memoStats, split);
    split->addWidget(ui->memoStats);
    // Services that share a log (they differ in port) are charted one at a
    // time: the box above the chart picks which.
    auto *chartSide = new QWidget(split);
    auto *chartLayout = new QVBoxLayout(chartSide);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    m_chartService = new QComboBox(chartSide);
    m_chartService->setObjectName(QStringLiteral("cmbChartService"));
    m_chartService->setAccessibleName(QStringLiteral("Service charted"));
    m_chartService->setVisible(false);
    chartLayout->addWidget(m_chartService);
    chartLayout->addWidget(m_chart, 1);
    split->addWidget(chartSide);
    connect(m_chartService, &QComboBox::activated, this, [this] { updateChart(); });
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    m_chart->showMessage(QString());

    resize(525, 424);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connect(ui->butRefreshLogList, &QPushButton::clicked, this, &TfrmStats::butRefreshLogListClick);
    connect(ui->cmbReports, &QComboBox::activated, this, &TfrmStats::LogListClick);
    for (QCheckBox *box : {ui->chkCompareStats, ui->chkShowAllDowntimes, ui->chkShowAll})
        connect(box, &QCheckBox::clicked, this, &TfrmStats::LogListClick);
    // A log chosen by keyboard or mouse gets its report at once; a click on
    // the log already chosen builds it again. A click whose press changed
    // the choice has had its report built by then.
    ui->LogList->viewport()->installEventFilter(this);
    connect(ui->LogList, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            return;
        m_changedSincePress = true;
        LogListClick();
    });
    connect(ui->LogList, &QListWidget::itemClicked, this, [this] {
        if (!std::exchange(m_changedSincePress, false))
            LogListClick();
    });
}

TfrmStats::~TfrmStats() = default;

void TfrmStats::setProgramFolder(const QString &folder)
{
    m_programFolder = folder;
}

void TfrmStats::setHistory(ResponseHistory *history)
{
    m_history = history;
    updateChart();
}

void TfrmStats::updateChart()
{
    m_chartService->setVisible(false);
    if (!m_history) {
        m_chart->showMessage(QString());
        return;
    }
    const QListWidgetItem *current = ui->LogList->currentItem();
    if (ui->chkCompareStats->isChecked()) {
        m_chart->showMessage(QStringLiteral("The response time chart shows one service: uncheck Compare."));
        return;
    }
    if (!current) {
        m_chart->showMessage(QStringLiteral("No service log chosen."));
        return;
    }
    const QStringList services = m_history->servicesOfLogEntry(current->text());
    if (services.isEmpty()) {
        m_chart->showMessage(QStringLiteral("No response times recorded for %1 yet.").arg(current->text()));
        return;
    }
    // Of services sharing a log the one polled last is charted until the
    // user picks another; the title names it.
    const QString chosen = services.contains(m_chartService->currentText())
                               ? m_chartService->currentText()
                               : services.first();
    m_chartService->clear();
    m_chartService->addItems(services);
    m_chartService->setCurrentText(chosen);
    m_chartService->setVisible(services.size() > 1);
    // "All log" is what the history keeps of the service, from its first
    // point on.
    const QDateTime now = m_now ? m_now() : QDateTime::currentDateTime();
    const StatsPeriod period =
        DowntimeStats::periodFromName(ui->cmbReports->currentText()).value_or(StatsPeriod::AllLog);
    qint64 keptFromMs = now.addMSecs(-ResponseHistoryLimits().maxAgeMs).toMSecsSinceEpoch();
    if (const std::optional<qint64> first = m_history->firstPointMs(chosen))
        keptFromMs = qBound(keptFromMs, *first, now.toMSecsSinceEpoch() - 60000);
    const QDateTime from =
        DowntimeStats::periodStart(period, now, QDateTime::fromMSecsSinceEpoch(keptFromMs));
    m_chart->showService(m_history, chosen, from.toMSecsSinceEpoch(), now.toMSecsSinceEpoch());
}

void TfrmStats::setClock(std::function<QDateTime()> now, const QLocale &locale)
{
    m_now = std::move(now);
    m_locale = locale;
}

QString TfrmStats::reportText() const
{
    return ui->memoStats->toPlainText();
}

bool TfrmStats::eventFilter(QObject *watched, QEvent *event)
{
    // Every press starts afresh: only a change it makes itself counts.
    if (watched == ui->LogList->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick))
        m_changedSincePress = false;
    return QWidget::eventFilter(watched, event);
}

void TfrmStats::showEvent(QShowEvent *event)
{
    // Restoring from minimised comes as a spontaneous show: the window was
    // never away, so its list and selection stay.
    if (!event->spontaneous())
        butRefreshLogListClick();
    QWidget::showEvent(event);
}

void TfrmStats::butRefreshLogListClick()
{
    // Filling the list chooses its first entry but builds no report.
    const QSignalBlocker quiet(ui->LogList);
    ui->LogList->clear();
    ui->LogList->addItems(DowntimeStats::listLogEntries(m_programFolder));
    if (ui->LogList->count() > 0)
        ui->LogList->setCurrentRow(0);
}

void TfrmStats::LogListClick()
{
    const bool compare = ui->chkCompareStats->isChecked();
    ui->chkShowAll->setEnabled(ui->cmbReports->currentIndex() > 0 && compare);
    ui->LogList->setEnabled(!compare);
    ui->chkShowAllDowntimes->setEnabled(!compare);
    ui->memoStats->clear();

    QStringList entries;
    for (int i = 0; i < ui->LogList->count(); ++i)
        entries << ui->LogList->item(i)->text();
    const QListWidgetItem *current = ui->LogList->currentItem();

    StatsOptions options;
    options.period = DowntimeStats::periodFromName(ui->cmbReports->currentText()).value_or(StatsPeriod::AllLog);
    options.compare = compare;
    options.showAll = ui->chkShowAll->isChecked();
    options.allDowntimes = ui->chkShowAllDowntimes->isChecked();

    QStringList report;
    const DowntimeStats stats(m_programFolder, m_locale, m_now);
    try {
        stats.buildReport(options, entries, current ? current->text() : QString(), report);
        ui->memoStats->setPlainText(report.join(QLatin1Char('\n')));
    } catch (const StatsError &error) {
        // The lines written before the run stopped stay in the box.
        ui->memoStats->setPlainText(report.join(QLatin1Char('\n')));
        if (error.kind() == StatsError::MissingLog)
            Dialogs::information(this, error.message());
        else
            Dialogs::error(this, error.message());
    }
    updateChart();
}
