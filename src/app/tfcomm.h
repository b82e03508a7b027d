#pragma once

#include <QMainWindow>

namespace kq::app {

class Dialogs;

// The main window.
class TFCOMM : public QMainWindow {
    Q_OBJECT
public:
    explicit TFCOMM(Dialogs& dialogs, QWidget* parent = nullptr);

private:
    Dialogs& m_dialogs;
};

} // namespace kq::app
