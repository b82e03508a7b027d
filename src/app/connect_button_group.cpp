#include "app/connect_button_group.h"

#include <QAbstractButton>
#include <QSignalBlocker>

namespace kq::app {

void ConnectButtonGroup::join(QAbstractButton* button) {
    if (button)
        m_buttons.push_back(button);
}

void ConnectButtonGroup::wentDown(const QAbstractButton* button) {
    for (const auto& other : m_buttons) {
        if (other && other.data() != button) {
            const QSignalBlocker block(other.data());
            other->setChecked(false);
        }
    }
}

} // namespace kq::app
