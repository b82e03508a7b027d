#include "app/minmax_strip.h"

#include "app/lcd_glyphs.h"

#include <QLabel>

namespace kq::app {

namespace {

QFont valueFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(14);
    font.setItalic(true);
    return font;
}

// A label that grows to the right from its left edge as its text changes.
QLabel* addLabel(QWidget* parent, const char* name, const QString& text, const QFont& font, int x,
                 int y) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->move(x, y);
    label->adjustSize();
    return label;
}

void setAutoSized(QLabel* label, const QString& text) {
    if (label->text() != text) {
        label->setText(text);
        label->adjustSize();
    }
}

} // namespace

MinMaxStrip::MinMaxStrip(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Panel3"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setFixedSize(kWidth, kHeight);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);

    const QFont caption = lcdLabelFont(12, true);
    const QFont unit = lcdLabelFont(14, false);
    addLabel(this, "Label11", QStringLiteral("MIN: "), caption, 16, 9);
    m_minText = addLabel(this, "MinText", QStringLiteral("2001"), valueFont(), 72, 7);
    m_minUnit = addLabel(this, "MinTextU", QStringLiteral("lux"), unit, 120, 7);
    addLabel(this, "Label12", QStringLiteral("MAX: "), caption, 208, 9);
    m_maxText = addLabel(this, "MaxText", QStringLiteral("-2001"), valueFont(), 264, 7);
    m_maxUnit = addLabel(this, "MaxTextU", QStringLiteral("lux"), unit, 312, 7);
}

void MinMaxStrip::setTexts(const QString& min, const QString& minUnit, const QString& max,
                           const QString& maxUnit) {
    setAutoSized(m_minText, min);
    setAutoSized(m_minUnit, minUnit);
    setAutoSized(m_maxText, max);
    setAutoSized(m_maxUnit, maxUnit);
}

void MinMaxStrip::setDisplay(const decode::DisplayModel& model) {
    setTexts(QString::fromStdString(model.MinText), QString::fromStdString(model.MinTextU),
             QString::fromStdString(model.MaxText), QString::fromStdString(model.MaxTextU));
}

QString MinMaxStrip::minText() const {
    return m_minText->text();
}
QString MinMaxStrip::maxText() const {
    return m_maxText->text();
}

} // namespace kq::app
