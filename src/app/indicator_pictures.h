#pragma once

#include <QPixmap>
#include <QRectF>
#include <QWidget>

class QPainter;

namespace kq::app {

// The connection pictogram: a computer and a meter joined by a cable, with lit screens while
// frames arrive and dark ones otherwise.
void paintConnectionPicture(QPainter& painter, const QRectF& box, bool lit);

// The pictogram as a widget of its own (conok lit, conokn dark).
class IndicatorPicture : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 28;
    static constexpr int kHeight = 26;

    IndicatorPicture(bool lit, QWidget* parent = nullptr);
    bool lit() const { return m_lit; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_lit;
    QPixmap m_picture; // drawn once: it shows and hides with every frame of a slow meter
};

} // namespace kq::app
