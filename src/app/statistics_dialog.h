#pragma once

#include "record/reading_stats.h"

#include <QDialog>

#include <cstdint>

class QLabel;
class QTimer;

namespace kq::record {
class Recorder;
}

namespace kq::app {

// Record > Statistics...: count, mean, sample standard deviation, minimum and
// maximum of the whole log's readings of one unit (rows of other units are
// counted apart) and of the chart page on screen. It stays open beside the
// window and follows the log twice a second, adding only the rows that came,
// so the poll never waits for it.
class StatisticsDialog : public QDialog {
    Q_OBJECT
public:
    explicit StatisticsDialog(const record::Recorder& recorder, QWidget* parent = nullptr);

    // Brings both lines up to the log and the chart page (cheap when nothing changed).
    void refresh();
    QString logLine() const;
    QString pageLine() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    const record::Recorder& m_recorder;
    record::LogStatistics m_log;
    std::uint64_t m_pageRevision = 0;
    bool m_pageShown = false;
    QLabel* m_logLabel = nullptr;
    QLabel* m_pageLabel = nullptr;
    QTimer* m_timer = nullptr;
};

// "12 readings of lux: mean 12.5, standard deviation 0.3, min 12, max 13.1" and the
// other units ("; also fc: 3 rows").
QString statisticsText(const record::RunningStats& stats, const QString& what);

} // namespace kq::app
