#pragma once

#include "decode/meter_state.h"

#include <QColor>
#include <QFrame>
#include <QString>

class QLabel;
class QLineEdit;

namespace kq::app {

class IndicatorPicture;
class VerdictCircle;

// The white panel beside the glass: the two limit edits, the measured value, the Pass/Fail
// verdict in its circle and the connection pictogram. It only shows; the limit rules and the
// judgement live in the core, and the window wires the edits' signals to them.
class LimitPanel : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 319;
    static constexpr int kHeight = 121;

    explicit LimitPanel(QWidget* parent = nullptr);

    QLineEdit* T1HI() const { return m_hi; }
    QLineEdit* T1LO() const { return m_lo; }
    QLineEdit* T1VALUE() const { return m_value; }

    void setMeasure(const QString& text);
    // Pass paints the grounds of the value, the circle and the caption green, Fail red,
    // None as at start (the tooltip colour); the texts keep their font colour.
    void setVerdict(decode::DisplayModel::Verdict verdict, const QString& caption);
    // Shows the lit pictogram (conok) or the dark one (conokn).
    void setConnected(bool connected);
    // Shows T1VALUE, the verdict with the judge caption, and conok of the model. The limit
    // edits are left alone: their texts belong to the user and the limit rules.
    void setDisplay(const decode::DisplayModel& model);

    decode::DisplayModel::Verdict verdict() const { return m_verdict; }
    bool connected() const;

    static QColor passColour() { return {0, 128, 0}; }
    static QColor failColour() { return {255, 0, 0}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLineEdit* m_hi = nullptr;
    QLineEdit* m_lo = nullptr;
    QLineEdit* m_value = nullptr;
    VerdictCircle* m_circle = nullptr;
    QLabel* m_judge = nullptr;
    IndicatorPicture* m_conok = nullptr;
    IndicatorPicture* m_conokn = nullptr;
    QColor m_tipColour;
    decode::DisplayModel::Verdict m_verdict = decode::DisplayModel::Verdict::None;
};

} // namespace kq::app
