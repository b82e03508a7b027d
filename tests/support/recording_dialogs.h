#pragma once

#include "app/dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace kq::test {

// Dialogs for tests: records every message a user would have seen and answers
// file dialogs from a script (an empty answer is a cancel).
class RecordingDialogs : public kq::app::Dialogs {
public:
    struct Message {
        QString caption;
        QString text;
        Icon icon;
        bool owned;
        bool asked = false; // a question, not a message box
    };

    void message(QWidget* owner, const QString& caption, const QString& text, Icon icon) override;
    // Questions are recorded like messages and answered from `askAnswers`, Yes when
    // it has run out.
    bool ask(QWidget* owner, const QString& caption, const QString& text) override;
    // Answered from `chooseAnswers` (button indexes); when it has run out, as
    // a Yes/No question from `askAnswers`.
    int choose(QWidget* owner, const QString& caption, const QString& text,
               const QStringList& buttons, int defaultButton, int escapeButton) override;
    QString saveFileName(QWidget*, const FileSpec& spec) override;
    QString openFileName(QWidget*, const FileSpec& spec) override;

    // The texts of the messages and the questions, in the order they came.
    QStringList texts() const;
    // The texts of the message boxes alone.
    QStringList told() const;

    std::vector<Message> messages;
    std::vector<FileSpec> lastSpecs;
    QStringList fileAnswers;
    QStringList questions;
    QList<bool> askAnswers;
    QList<int> chooseAnswers;
    QStringList lastButtons;
    // Runs while a question is open (a user taking time to answer).
    std::function<void()> whileAsking;
};

// For programs that keep no test log (the benchmarks): every message is also
// told on stderr as it comes, and counted.
class TellingDialogs final : public RecordingDialogs {
public:
    void message(QWidget* owner, const QString& caption, const QString& text, Icon icon) override;
    int shown = 0;
};

} // namespace kq::test
