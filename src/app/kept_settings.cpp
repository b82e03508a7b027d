#include "app/kept_settings.h"

#include "app/chart_panel.h"
#include "app/limit_panel.h"
#include "app/log_file_actions.h"
#include "app/log_strip.h"
#include "app/tfcomm.h"
#include "decode/number_text.h"
#include "record/limit_input.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>

namespace kq::app {

namespace {

// Keys of the settings file; renaming one loses what users kept under it.
constexpr char kFolderKey[] = "files/lastFolder";
constexpr char kPageLengthKey[] = "chart/pageLength";
constexpr char kRepeatKey[] = "log/repeat";
constexpr char kSamplingKey[] = "log/samplingInterval";
constexpr char kIntervalKey[] = "log/intervalSeconds";
constexpr char kHighKey[] = "limits/high";
constexpr char kLowKey[] = "limits/low";
constexpr char kCableControlsKey[] = "window/cableControls";

// The edits take digits only; anything longer than this is no value a user typed.
constexpr qsizetype kMaxDigits = 10;

bool allDigits(const QString& text) {
    if (text.isEmpty() || text.size() > kMaxDigits)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

std::optional<bool> readFlag(QSettings& store, const char* key) {
    const QVariant v = store.value(QLatin1String(key));
    if (!v.isValid())
        return std::nullopt;
    const QString text = v.toString().trimmed().toLower();
    if (text == QLatin1String("true"))
        return true;
    if (text == QLatin1String("false"))
        return false;
    return std::nullopt;
}

QString readText(QSettings& store, const char* key) {
    const QVariant v = store.value(QLatin1String(key));
    // A list or a map where a text belongs is a foreign file: nothing is kept.
    return v.canConvert<QString>() ? v.toString() : QString();
}

void applyLimit(QLineEdit* edit, const QString& text, const std::string& separator) {
    if (edit == nullptr || text.isEmpty() || text == edit->text())
        return;
    if (!record::limitReadsAsNumber(text.toStdString(), separator))
        return;
    edit->setText(text);
}

} // namespace

QString keptSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/kqmeter/kqmeter.conf");
}

KeptSettings readKeptSettings(QSettings& store) {
    KeptSettings k;
    k.lastFolder = readText(store, kFolderKey);
    k.pageLength = readText(store, kPageLengthKey);
    k.repeat = readFlag(store, kRepeatKey);
    k.sampling = readFlag(store, kSamplingKey);
    k.interval = readText(store, kIntervalKey);
    k.high = readText(store, kHighKey);
    k.low = readText(store, kLowKey);
    k.cableControls = readFlag(store, kCableControlsKey);
    return k;
}

void writeKeptSettings(QSettings& store, const KeptSettings& k) {
    auto put = [&store](const char* key, const QString& text) {
        if (text.isEmpty())
            store.remove(QLatin1String(key));
        else
            store.setValue(QLatin1String(key), text);
    };
    put(kFolderKey, k.lastFolder);
    put(kPageLengthKey, k.pageLength);
    if (k.repeat)
        store.setValue(QLatin1String(kRepeatKey), *k.repeat);
    if (k.sampling)
        store.setValue(QLatin1String(kSamplingKey), *k.sampling);
    put(kIntervalKey, k.interval);
    put(kHighKey, k.high);
    put(kLowKey, k.low);
    if (k.cableControls)
        store.setValue(QLatin1String(kCableControlsKey), *k.cableControls);
    store.sync();
}

KeptSettings captureSettings(TFCOMM& window) {
    KeptSettings k;
    k.lastFolder = window.files().lastFolder();
    if (auto* page = window.findChild<QLineEdit*>(QStringLiteral("Maxrecord")))
        k.pageLength = page->text();
    if (auto* repeat = window.findChild<QCheckBox*>(QStringLiteral("RepeatSet")))
        k.repeat = repeat->isChecked();
    if (auto* sampling = window.findChild<QCheckBox*>(QStringLiteral("RecordSI")))
        k.sampling = sampling->isChecked();
    if (auto* interval = window.findChild<QLineEdit*>(QStringLiteral("RecordSITime")))
        k.interval = interval->text();
    // The accepted limits, not a text the user was still typing when the window closed.
    k.high = QString::fromStdString(window.state().T1HI);
    k.low = QString::fromStdString(window.state().T1LO);
    k.cableControls = window.cableControlsShown();
    return k;
}

void applySettings(TFCOMM& window, const KeptSettings& k) {
    const QFileInfo folder(k.lastFolder);
    if (!k.lastFolder.isEmpty() && folder.isAbsolute() && folder.isDir())
        window.files().setLastFolder(QDir::cleanPath(k.lastFolder));

    if (auto* chart = window.findChild<ChartPanel*>()) {
        const auto length = decode::textToInt32(k.pageLength.toStdString());
        if (allDigits(k.pageLength) && length && *length >= 1) {
            chart->Maxrecord()->setText(k.pageLength);
            chart->Timer2Timer(); // at once, not a second after start
        }
    }
    if (auto* repeat = window.findChild<QCheckBox*>(QStringLiteral("RepeatSet"));
        repeat && k.repeat)
        repeat->setChecked(*k.repeat);
    if (auto* sampling = window.findChild<QCheckBox*>(QStringLiteral("RecordSI"));
        sampling && k.sampling)
        sampling->setChecked(*k.sampling);
    if (auto* interval = window.findChild<QLineEdit*>(QStringLiteral("RecordSITime"));
        interval && allDigits(k.interval))
        interval->setText(k.interval);

    if (k.cableControls)
        window.setCableControlsShown(*k.cableControls);

    const std::string separator = window.state().LocaleDecimalSeparator;
    if (auto* limits = window.findChild<LimitPanel*>()) {
        applyLimit(limits->T1HI(), k.high, separator);
        applyLimit(limits->T1LO(), k.low, separator);
    }
}

} // namespace kq::app
