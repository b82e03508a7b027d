#include "app/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

namespace kq::app {

QString messageTitle(const QWidget* owner) {
    if (owner)
        return owner->window()->windowTitle();
    // A box without an owner still carries the program's name: the main window's.
    for (const QWidget* top : QApplication::topLevelWidgets()) {
        if (qobject_cast<const QMainWindow*>(top) && !top->windowTitle().isEmpty())
            return top->windowTitle();
    }
    return QString();
}

void QtDialogs::message(QWidget* owner, const QString&, const QString& text, Icon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(messageTitle(owner));
    box.setText(text);
    box.setIcon(icon == Icon::Information ? QMessageBox::Information
                : icon == Icon::Error     ? QMessageBox::Critical
                                          : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool QtDialogs::ask(QWidget* owner, const QString& caption, const QString& text) {
    return askLive(owner, caption, [&text] { return text; });
}

bool QtDialogs::askLive(QWidget* owner, const QString&, const std::function<QString()>& text) {
    QMessageBox box(owner);
    box.setWindowTitle(messageTitle(owner));
    box.setText(text());
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    // A stray Enter keeps the readings.
    box.setDefaultButton(QMessageBox::No);
    // The meter goes on while the box is open; what it asks about stays true.
    QTimer follow;
    follow.setInterval(250);
    QObject::connect(&follow, &QTimer::timeout, &box, [&box, &text] {
        const QString now = text();
        if (now != box.text())
            box.setText(now);
    });
    follow.start();
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes);
}

int QtDialogs::choose(QWidget* owner, const QString&, const QString& text,
                      const QStringList& buttons, int defaultButton, int escapeButton) {
    QMessageBox box(owner);
    box.setWindowTitle(messageTitle(owner));
    box.setText(text);
    box.setIcon(QMessageBox::Question);
    QList<QPushButton*> made;
    for (int i = 0; i < buttons.size(); ++i)
        made << box.addButton(buttons[i], i == escapeButton    ? QMessageBox::RejectRole
                                          : i == defaultButton ? QMessageBox::AcceptRole
                                                               : QMessageBox::ActionRole);
    if (defaultButton >= 0 && defaultButton < made.size())
        box.setDefaultButton(made[defaultButton]);
    if (escapeButton >= 0 && escapeButton < made.size())
        box.setEscapeButton(made[escapeButton]);
    box.exec();
    const int chosen = static_cast<int>(made.indexOf(box.clickedButton()));
    return chosen >= 0 ? chosen : escapeButton;
}

namespace {

QString runFileDialog(QWidget* owner, const Dialogs::FileSpec& spec, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(owner, spec.title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    dialog.setNameFilters(spec.filters);
    dialog.setDefaultSuffix(spec.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !spec.confirmOverwrite);
    // The desktop's own dialog where it offers one (a portal, the desktop's theme); the first
    // dialog of a run opens in the user's documents folder.
    const QString folder = spec.folder.isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                               : spec.folder;
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        dialog.setDirectory(folder);
    if (!spec.initialName.isEmpty())
        dialog.selectFile(spec.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

QString QtDialogs::saveFileName(QWidget* owner, const FileSpec& spec) {
    return runFileDialog(owner, spec, QFileDialog::AcceptSave);
}

QString QtDialogs::openFileName(QWidget* owner, const FileSpec& spec) {
    return runFileDialog(owner, spec, QFileDialog::AcceptOpen);
}

} // namespace kq::app
