#include "TfrmStats.h"

#include "Dialogs.h"
#include "ResponseChart.h"
#include "ui_TfrmStats.h"

#include "stats/DowntimeStats.h"
#include "stats/ReportExport.h"
#include "stats/StatsError.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>

#include <utility>

namespace {

const QString CsvFilter = QStringLiteral("CSV files (*.csv)");
const QString JsonFilter = QStringLiteral("JSON files (*.json)");

QString pickSaveFile(QWidget *parent, const QString &start, const QString &filters,
                     QString *selectedFilter)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Export report"), start, filters,
                                        selectedFilter);
}

} // namespace

TfrmStats::TfrmStats(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TfrmStats>()), m_savePicker(pickSaveFile)
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
    connect(ui->butExport, &QPushButton::clicked, this, &TfrmStats::butExportClick);
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

    const QStringList entries = listedEntries();
    const QListWidgetItem *current = ui->LogList->currentItem();
    const StatsOptions options = chosenOptions();

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

QStringList TfrmStats::listedEntries() const
{
    QStringList entries;
    for (int i = 0; i < ui->LogList->count(); ++i)
        entries << ui->LogList->item(i)->text();
    return entries;
}

StatsOptions TfrmStats::chosenOptions() const
{
    StatsOptions options;
    options.period = DowntimeStats::periodFromName(ui->cmbReports->currentText()).value_or(StatsPeriod::AllLog);
    options.compare = ui->chkCompareStats->isChecked();
    options.showAll = ui->chkShowAll->isChecked();
    options.allDowntimes = ui->chkShowAllDowntimes->isChecked();
    return options;
}

void TfrmStats::setSavePicker(SavePicker picker)
{
    m_savePicker = std::move(picker);
}

void TfrmStats::butExportClick()
{
    const QStringList entries = listedEntries();
    const QListWidgetItem *current = ui->LogList->currentItem();
    const StatsOptions options = chosenOptions();
    if (entries.isEmpty() || (!options.compare && !current)) {
        Dialogs::information(this, QStringLiteral("There is no report to export."));
        return;
    }

    if (m_exportFolder.isEmpty())
        m_exportFolder = QDir::homePath();
    const QString name = options.compare ? QStringLiteral("comparison") : current->text();
    QString filter = CsvFilter;
    const QString path = m_savePicker(this, QDir(m_exportFolder).filePath(name + QStringLiteral(".csv")),
                                      CsvFilter + QStringLiteral(";;") + JsonFilter, &filter);
    if (path.isEmpty())
        return;

    // The file's ending decides; without a known one, the chosen type does
    // and lends its ending.
    QString target = path;
    const QString suffix = QFileInfo(path).suffix().toLower();
    bool json = filter == JsonFilter;
    if (suffix == QLatin1String("json"))
        json = true;
    else if (suffix == QLatin1String("csv"))
        json = false;
    else
        target += json ? QStringLiteral(".json") : QStringLiteral(".csv");

    QByteArray bytes;
    const DowntimeStats stats(m_programFolder, m_locale, m_now);
    try {
        if (options.compare) {
            const ComparisonData data = stats.comparisonData(entries, options);
            bytes = json ? ReportExport::json(data) : ReportExport::csv(data);
        } else {
            const SingleReportData data = stats.singleReportData(current->text(), options);
            bytes = json ? ReportExport::json(data) : ReportExport::csv(data);
        }
    } catch (const StatsError &error) {
        if (error.kind() == StatsError::MissingLog)
            Dialogs::information(this, error.message());
        else
            Dialogs::error(this, error.message());
        return;
    }

    // Written aside and renamed: a failed export never leaves half a file.
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        Dialogs::error(this, QStringLiteral("The report could not be saved to %1:\n%2")
                                 .arg(QDir::toNativeSeparators(target), file.errorString()));
        return;
    }
    m_exportFolder = QFileInfo(target).absolutePath();
}
