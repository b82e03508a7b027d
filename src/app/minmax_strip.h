#pragma once

#include "decode/meter_state.h"

#include <QFrame>
#include <QString>

class QLabel;

namespace kq::app {

// The silver strip under the glass: the lowest and the highest reading since the unit or the
// range last changed, each with its unit.
class MinMaxStrip : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 398;
    static constexpr int kHeight = 26;

    explicit MinMaxStrip(QWidget* parent = nullptr);

    void setTexts(const QString& min, const QString& minUnit, const QString& max,
                  const QString& maxUnit);
    // Shows MinText, MinTextU, MaxText and MaxTextU of the model.
    void setDisplay(const decode::DisplayModel& model);

    QString minText() const;
    QString maxText() const;

private:
    QLabel* m_minText = nullptr;
    QLabel* m_minUnit = nullptr;
    QLabel* m_maxText = nullptr;
    QLabel* m_maxUnit = nullptr;
};

} // namespace kq::app
