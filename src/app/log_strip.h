#pragma once

#include <QFrame>

class QCheckBox;
class QLineEdit;
class QToolButton;

namespace kq::record {
class Recorder;
}

namespace kq::app {

// Lets only digits and backspace be typed into `edit` (the key filter of the
// sampling-interval and page-length edits); keys that type no character pass.
void installDigitKeyFilter(QLineEdit* edit);

// The record toolbar between the MIN/MAX strip and the grid (398 x 41): the repeat filter, the
// sampling interval with its seconds edit, and the New / Open / Save / Print buttons. The check
// boxes and the edit update the recorder's state directly; the window connects the buttons.
class LogStrip : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 398;
    static constexpr int kHeight = 41;

    explicit LogStrip(record::Recorder& recorder, QWidget* parent = nullptr);

    QCheckBox* RepeatSet() const { return m_repeat; }
    QCheckBox* RecordSI() const { return m_sampling; }
    QLineEdit* RecordSITime() const { return m_interval; }
    QToolButton* RecordNew() const { return m_new; }
    QToolButton* OpenDataFiles() const { return m_open; }
    QToolButton* saveas() const { return m_save; }
    QToolButton* BtPrint() const { return m_print; }
    // Its controls in Tab order, left to right.
    QList<QWidget*> focusChain() const;

private:
    record::Recorder& m_recorder;
    QCheckBox* m_repeat = nullptr;
    QCheckBox* m_sampling = nullptr;
    QLineEdit* m_interval = nullptr;
    QToolButton* m_new = nullptr;
    QToolButton* m_open = nullptr;
    QToolButton* m_save = nullptr;
    QToolButton* m_print = nullptr;
};

} // namespace kq::app
