#pragma once

#include "app/dialogs.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// Dialogs for tests: records every message a user would have seen and answers
// file dialogs from a script (an empty answer is a cancel).
class RecordingDialogs final : public kq::app::Dialogs {
public:
    struct Message {
        QString caption;
        QString text;
        Icon icon;
        bool owned;
    };

    void message(QWidget* owner, const QString& caption, const QString& text, Icon icon) override {
        messages.push_back({caption, text, icon, owner != nullptr});
    }
    // Questions are recorded like messages and answered from `askAnswers`, Yes when
    // it has run out.
    bool ask(QWidget* owner, const QString& caption, const QString& text) override {
        messages.push_back({caption, text, Icon::None, owner != nullptr});
        questions << text;
        if (whileAsking)
            whileAsking();
        return askAnswers.isEmpty() ? true : askAnswers.takeFirst();
    }
    // Answered from `chooseAnswers` (button indexes); when it has run out, as
    // a Yes/No question from `askAnswers`.
    int choose(QWidget* owner, const QString& caption, const QString& text,
               const QStringList& buttons, int defaultButton, int escapeButton) override {
        lastButtons = buttons;
        if (chooseAnswers.isEmpty())
            return Dialogs::choose(owner, caption, text, buttons, defaultButton, escapeButton);
        messages.push_back({caption, text, Icon::None, owner != nullptr});
        questions << text;
        if (whileAsking)
            whileAsking();
        return chooseAnswers.takeFirst();
    }
    QString saveFileName(QWidget*, const FileSpec& spec) override {
        lastSpecs.push_back(spec);
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }
    QString openFileName(QWidget*, const FileSpec& spec) override {
        lastSpecs.push_back(spec);
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }

    QStringList texts() const {
        QStringList out;
        for (const auto& m : messages)
            out << m.text;
        return out;
    }

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
