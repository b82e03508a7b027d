#pragma once

#include <QPointer>
#include <QVector>

class QAbstractButton;

namespace kq::app {

// The window's connect buttons, each link's own: any number of them may be up, at most one
// down. One going down puts every other up without its click handling, so the link that was
// connected through it stays as it is until its own button is pressed again. Each controller
// joins its buttons and says when one of them goes down by the user's press.
class ConnectButtonGroup {
public:
    void join(QAbstractButton* button);
    // `button` has gone down: every other member comes up.
    void wentDown(const QAbstractButton* button);

private:
    QVector<QPointer<QAbstractButton>> m_buttons;
};

} // namespace kq::app
