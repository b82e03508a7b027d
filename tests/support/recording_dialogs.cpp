#include "support/recording_dialogs.h"

#include <cstdio>

namespace kq::test {

void RecordingDialogs::message(QWidget* owner, const QString& caption, const QString& text,
                               Icon icon) {
    messages.push_back({caption, text, icon, owner != nullptr});
}

bool RecordingDialogs::ask(QWidget* owner, const QString& caption, const QString& text) {
    messages.push_back({caption, text, Icon::None, owner != nullptr, true});
    questions << text;
    if (whileAsking)
        whileAsking();
    return askAnswers.isEmpty() ? true : askAnswers.takeFirst();
}

int RecordingDialogs::choose(QWidget* owner, const QString& caption, const QString& text,
                             const QStringList& buttons, int defaultButton, int escapeButton) {
    lastButtons = buttons;
    if (chooseAnswers.isEmpty())
        return Dialogs::choose(owner, caption, text, buttons, defaultButton, escapeButton);
    messages.push_back({caption, text, Icon::None, owner != nullptr, true});
    questions << text;
    if (whileAsking)
        whileAsking();
    return chooseAnswers.takeFirst();
}

QString RecordingDialogs::saveFileName(QWidget*, const FileSpec& spec) {
    lastSpecs.push_back(spec);
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

QString RecordingDialogs::openFileName(QWidget*, const FileSpec& spec) {
    lastSpecs.push_back(spec);
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

QStringList RecordingDialogs::texts() const {
    QStringList out;
    for (const auto& m : messages)
        out << m.text;
    return out;
}

QStringList RecordingDialogs::told() const {
    QStringList out;
    for (const auto& m : messages)
        if (!m.asked)
            out << m.text;
    return out;
}

void TellingDialogs::message(QWidget* owner, const QString& caption, const QString& text,
                             Icon icon) {
    RecordingDialogs::message(owner, caption, text, icon);
    ++shown;
    std::fprintf(stderr, "message: %s: %s\n", qPrintable(caption), qPrintable(text));
}

} // namespace kq::test
