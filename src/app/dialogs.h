#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace kq::app {

// Every message box and file dialog of the program goes through this, so that
// tests run headless and can check the exact text a user would have seen.
class Dialogs {
public:
    enum class Icon { None, Information, Error };

    struct FileSpec {
        QString title;
        QStringList filters;   // e.g. "Excel File(*.xls)", "XML(*.xml)"
        QString defaultSuffix; // added to a name typed without one; empty for none
        QString initialName;
        QString folder; // where the dialog opens; empty for the user's documents folder
        bool confirmOverwrite = false;
    };

    virtual ~Dialogs() = default;
    // A modal box with one OK button. `owner` may be null (a box without owner window).
    virtual void message(QWidget* owner, const QString& caption, const QString& text,
                         Icon icon) = 0;
    // A modal question with Yes and No buttons; true when the user chose Yes.
    virtual bool ask(QWidget* owner, const QString& caption, const QString& text) = 0;
    // A Yes/No question whose text follows the program while the box is open,
    // e.g. a count of readings that goes on growing: `text` is asked again a
    // few times a second. Dialogs without a box to update ask once.
    virtual bool askLive(QWidget* owner, const QString& caption,
                         const std::function<QString()>& text) {
        return ask(owner, caption, text());
    }
    // A modal question with buttons of its own (`buttons`, left to right): the
    // index of the one chosen. Enter chooses `defaultButton`; Escape and
    // closing the box choose `escapeButton`. Dialogs that only answer Yes or
    // No (scripts) take Yes for the default button and No for the escape one.
    virtual int choose(QWidget* owner, const QString& caption, const QString& text,
                       const QStringList& /*buttons*/, int defaultButton, int escapeButton) {
        return ask(owner, caption, text) ? defaultButton : escapeButton;
    }
    // The chosen file name, or an empty text when the user cancelled.
    virtual QString saveFileName(QWidget* owner, const FileSpec& spec) = 0;
    virtual QString openFileName(QWidget* owner, const FileSpec& spec) = 0;
};

// The title of every message box and question: the title of the owner's window, or of the
// main window for a box without owner, so that each box says which program (and which of
// two windows) speaks.
QString messageTitle(const QWidget* owner);

// The real dialogs of the platform. Their boxes carry messageTitle(owner) whatever caption
// the caller gives.
class QtDialogs final : public Dialogs {
public:
    void message(QWidget* owner, const QString& caption, const QString& text, Icon icon) override;
    bool ask(QWidget* owner, const QString& caption, const QString& text) override;
    bool askLive(QWidget* owner, const QString& caption,
                 const std::function<QString()>& text) override;
    int choose(QWidget* owner, const QString& caption, const QString& text,
               const QStringList& buttons, int defaultButton, int escapeButton) override;
    QString saveFileName(QWidget* owner, const FileSpec& spec) override;
    QString openFileName(QWidget* owner, const FileSpec& spec) override;
};

} // namespace kq::app
