#pragma once

#include <QDateTime>
#include <QLocale>
#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class ResponseChart;
class ResponseHistory;
struct StatsOptions;

namespace Ui {
class TfrmStats;
}

// The statistics window: pick a service log and a period, read the down-time
// report. Closing it only hides it; its choices stay while it is hidden.
class TfrmStats : public QWidget {
    Q_OBJECT
public:
    explicit TfrmStats(QWidget *parent = nullptr);
    ~TfrmStats() override;

    void setProgramFolder(const QString &folder);
    // For tests: a fixed clock and locale for the reports.
    void setClock(std::function<QDateTime()> now, const QLocale &locale);

    // Where the response time chart comes from; none: no chart.
    void setHistory(ResponseHistory *history);
    ResponseChart *chart() const { return m_chart; }

    void butRefreshLogListClick();
    void LogListClick();
    QString reportText() const;

    // Saves the report the window shows as CSV or JSON, as the file's
    // ending or else the chosen file type says.
    void butExportClick();
    // Asks for the file to save to: the start path, the file types, and the
    // type chosen (in: the one offered first; out: the one picked). Empty
    // for Cancel. Tests answer it without a dialog.
    using SavePicker = std::function<QString(QWidget *parent, const QString &start,
                                             const QString &filters, QString *selectedFilter)>;
    void setSavePicker(SavePicker picker);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // The chart of the chosen log's service over the chosen period.
    void updateChart();
    StatsOptions chosenOptions() const;
    QStringList listedEntries() const;

    std::unique_ptr<Ui::TfrmStats> ui;
    ResponseChart *m_chart = nullptr;
    QComboBox *m_chartService = nullptr;
    ResponseHistory *m_history = nullptr;
    QString m_programFolder;
    std::function<QDateTime()> m_now;
    QLocale m_locale;
    bool m_changedSincePress = false; // the chosen log changed since the last mouse press
    SavePicker m_savePicker;
    QString m_exportFolder; // where the last export went
};
