#include "app/limit_panel.h"

#include "app/indicator_pictures.h"

#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>

namespace kq::app {

// The verdict disc: a circle centred in its box, filled with the verdict's colour.
class VerdictCircle : public QWidget {
public:
    VerdictCircle(const QColor& brush, QWidget* parent) : QWidget(parent), m_brush(brush) {}

    void setBrush(const QColor& brush) {
        if (brush != m_brush) {
            m_brush = brush;
            update();
        }
    }
    QColor brush() const { return m_brush; }

protected:
    void paintEvent(QPaintEvent*) override {
        // The verdict flips between two colours from frame to frame: each disc is drawn once.
        const qreal ratio = devicePixelRatioF();
        QPixmap& disc = m_discs[m_brush.rgba()];
        if (disc.isNull() || disc.devicePixelRatio() != ratio) {
            disc = QPixmap((QSizeF(size()) * ratio).toSize());
            disc.setDevicePixelRatio(ratio);
            disc.fill(Qt::transparent);
            QPainter picture(&disc);
            picture.setRenderHint(QPainter::Antialiasing);
            picture.setPen(QPen(Qt::black, 1));
            picture.setBrush(m_brush);
            const qreal d = qMin(width(), height()) - 1;
            picture.drawEllipse(QRectF((width() - d) / 2, (height() - d) / 2, d, d));
        }
        QPainter painter(this);
        painter.drawPixmap(0, 0, disc);
    }
    void resizeEvent(QResizeEvent*) override { m_discs.clear(); }

private:
    QColor m_brush;
    QHash<QRgb, QPixmap> m_discs;
};

namespace {

QFont arialBold(int pixelSize) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}

QLabel* addCaption(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(arialBold(11));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit* addLimitEdit(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setFont(arialBold(11));
    edit->setToolTip(QStringLiteral("Please enter a number here."));
    edit->setGeometry(x, y, 57, 22);
    return edit;
}

void setColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette pal = widget->palette();
    if (pal.color(role) != colour) {
        pal.setColor(role, colour);
        widget->setPalette(pal);
    }
}

} // namespace

LimitPanel::LimitPanel(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Panel4"));
    setFixedSize(kWidth, kHeight);
    setFrameStyle(QFrame::NoFrame);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    m_tipColour = pal.color(QPalette::ToolTipBase);

    addCaption(this, "T1_HI", QStringLiteral("Set High Limit:"), 16, 16);
    addCaption(this, "T1_Value", QStringLiteral("Measure Value:"), 16, 52);
    addCaption(this, "T1_LO", QStringLiteral("Set Low Limit:"), 16, 84);
    m_hi = addLimitEdit(this, "T1HI", QStringLiteral("6000"), 104, 11);
    m_lo = addLimitEdit(this, "T1LO", QStringLiteral("-6000"), 104, 84);

    m_value = new QLineEdit(QStringLiteral("0"), this);
    m_value->setObjectName(QStringLiteral("T1VALUE"));
    m_value->setReadOnly(true);
    m_value->setFocusPolicy(Qt::NoFocus);
    m_value->setFont(arialBold(21));
    m_value->setGeometry(104, 43, 81, 32);
    setColour(m_value, QPalette::Base, m_tipColour);

    m_circle = new VerdictCircle(m_tipColour, this);
    m_circle->setObjectName(QStringLiteral("Shape1"));
    m_circle->setGeometry(200, 24, 81, 73);

    m_judge = new QLabel(this);
    m_judge->setObjectName(QStringLiteral("judge"));
    QFont judgeFont;
    judgeFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                           QStringLiteral("Arial")});
    judgeFont.setPixelSize(24);
    judgeFont.setBold(true);
    m_judge->setFont(judgeFont);
    m_judge->setAutoFillBackground(true);
    setColour(m_judge, QPalette::Window, m_tipColour);
    m_judge->move(213, 46);
    m_judge->resize(0, m_judge->sizeHint().height());

    m_conok = new IndicatorPicture(true, this);
    m_conok->setObjectName(QStringLiteral("conok"));
    m_conok->move(286, 5);
    m_conokn = new IndicatorPicture(false, this);
    m_conokn->setObjectName(QStringLiteral("conokn"));
    m_conokn->move(286, 5);
    m_conok->hide();
}

void LimitPanel::setMeasure(const QString& text) {
    if (m_value->text() != text) {
        m_value->setText(text);
        m_value->setCursorPosition(0);
    }
}

void LimitPanel::setVerdict(decode::DisplayModel::Verdict verdict, const QString& caption) {
    using Verdict = decode::DisplayModel::Verdict;
    // Called after every frame: a verdict that stays costs no repaint.
    if (verdict == m_verdict && caption == m_judge->text())
        return;
    m_verdict = verdict;
    // The verdict colours the grounds: the value box, the disc and the caption's own
    // opaque ground; the texts stay in their font colour.
    QColor ground = m_tipColour;
    if (verdict != Verdict::None)
        ground = verdict == Verdict::Pass ? passColour() : failColour();
    setColour(m_value, QPalette::Base, ground);
    setColour(m_judge, QPalette::Window, ground);
    m_circle->setBrush(ground);
    if (m_judge->text() != caption) {
        m_judge->setText(caption);
        // an empty caption leaves no tooltip-coloured patch on the disc
        m_judge->resize(caption.isEmpty() ? 0 : m_judge->sizeHint().width(),
                        m_judge->sizeHint().height());
    }
}

void LimitPanel::setConnected(bool connected) {
    m_conok->setVisible(connected);
    m_conokn->setVisible(!connected);
}

bool LimitPanel::connected() const {
    return !m_conok->isHidden();
}

void LimitPanel::setDisplay(const decode::DisplayModel& model) {
    // The second family is never judged: the value and the verdict a light-meter frame left
    // would read as this meter's.
    if (model.family == decode::DisplayModel::Family::Lcd24B) {
        setMeasure(QString());
        setVerdict(decode::DisplayModel::Verdict::None, QString());
    } else {
        setMeasure(QString::fromStdString(model.T1VALUE));
        setVerdict(model.verdict, QString::fromStdString(model.judge));
    }
    setConnected(model.isShown(decode::Widget::conok));
}

void LimitPanel::paintEvent(QPaintEvent*) {
    // a lowered outer bevel around a raised inner one
    QPainter painter(this);
    const QColor shadow(128, 128, 128);
    const QColor light(Qt::white);
    const QRect outer = rect().adjusted(0, 0, -1, -1);
    const QRect inner = outer.adjusted(1, 1, -1, -1);
    auto bevel = [&painter](const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    };
    bevel(outer, shadow, light);
    bevel(inner, light, shadow);
}

} // namespace kq::app
