#include "app/tfcomm.h"

namespace kq::app {

TFCOMM::TFCOMM(Dialogs& dialogs, QWidget* parent) : QMainWindow(parent), m_dialogs(dialogs) {}

} // namespace kq::app
