#include "app/statistics_dialog.h"

#include "record/recorder.h"

#include <QLabel>
#include <QLocale>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>

namespace kq::app {

namespace {

constexpr int kRefreshMs = 500;

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString number(double v) {
    return QLocale().toString(v, 'g', 7);
}

} // namespace

QString statisticsText(const record::RunningStats& s, const QString& what) {
    QString text = QStringLiteral("%1 %2").arg(s.count()).arg(what);
    if (const auto mean = s.mean())
        text += QStringLiteral(": mean %1").arg(number(*mean));
    if (const auto sd = s.stddev())
        text += QStringLiteral(", standard deviation %1").arg(number(*sd));
    if (const auto lo = s.min())
        text += QStringLiteral(", min %1, max %2").arg(number(*lo), number(*s.max()));
    return text;
}

StatisticsDialog::StatisticsDialog(const record::Recorder& recorder, QWidget* parent)
    : QDialog(parent), m_recorder(recorder) {
    setObjectName(QStringLiteral("StatisticsDialog"));
    setWindowTitle(QStringLiteral("Statistics"));
    auto* layout = new QVBoxLayout(this);
    auto* logTitle = new QLabel(QStringLiteral("Whole log"), this);
    QFont bold = logTitle->font();
    bold.setBold(true);
    logTitle->setFont(bold);
    m_logLabel = new QLabel(this);
    m_logLabel->setObjectName(QStringLiteral("StatsLog"));
    m_logLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_logLabel->setWordWrap(true);
    auto* pageTitle = new QLabel(QStringLiteral("Chart page on screen"), this);
    pageTitle->setFont(bold);
    m_pageLabel = new QLabel(this);
    m_pageLabel->setObjectName(QStringLiteral("StatsPage"));
    m_pageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pageLabel->setWordWrap(true);
    layout->addWidget(logTitle);
    layout->addWidget(m_logLabel);
    layout->addSpacing(8);
    layout->addWidget(pageTitle);
    layout->addWidget(m_pageLabel);
    setFixedWidth(560);

    m_timer = new QTimer(this);
    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, &StatisticsDialog::refresh);
}

void StatisticsDialog::showEvent(QShowEvent* event) {
    refresh();
    m_timer->start();
    QDialog::showEvent(event);
}

void StatisticsDialog::hideEvent(QHideEvent* event) {
    m_timer->stop();
    QDialog::hideEvent(event);
}

void StatisticsDialog::refresh() {
    if (m_log.follow(m_recorder.cds1)) {
        const auto s = m_log.summary();
        QString what =
            s.stats.count() == 1 ? QStringLiteral("reading") : QStringLiteral("readings");
        if (!s.unit.empty())
            what += QStringLiteral(" of ") + qs(s.unit);
        QString text = statisticsText(s.stats, what);
        QStringList others;
        for (const auto& [unit, rows] : s.otherUnits)
            others << QStringLiteral("%1 (%2 %3)")
                          .arg(unit.empty() ? QStringLiteral("no unit") : qs(unit))
                          .arg(rows)
                          .arg(rows == 1 ? QStringLiteral("row") : QStringLiteral("rows"));
        if (!others.isEmpty())
            text += QStringLiteral("\nOther units, counted apart: ") +
                    others.join(QStringLiteral(", "));
        m_logLabel->setText(text);
    }
    const record::TChartControl& chart = m_recorder.ChartPager;
    if (!m_pageShown || chart.revision() != m_pageRevision) {
        m_pageShown = true;
        m_pageRevision = chart.revision();
        const auto page = record::chartPageStatistics(
            chart, [this](std::size_t x) { return m_recorder.chartPointIsNumber(x); });
        m_pageLabel->setText(QStringLiteral("Page %1: ").arg(chart.curPage()) +
                             statisticsText(page, QStringLiteral("points")));
    }
}

QString StatisticsDialog::logLine() const {
    return m_logLabel->text();
}

QString StatisticsDialog::pageLine() const {
    return m_pageLabel->text();
}

} // namespace kq::app
