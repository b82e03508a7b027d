#include "app/log_strip.h"

#include "record/reading_log.h"
#include "record/recorder.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolButton>

namespace kq::app {

namespace {

// Typed characters other than digits and backspace are swallowed; keys that type no
// character (arrows, Delete) and shortcuts (Ctrl+V, whose text some platforms give as
// "v") pass, as they are not characters typed into the text.
class DigitKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const QString text = key->text();
            const bool shortcut = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
            if (!shortcut && !text.isEmpty() && text.at(0).isPrint() &&
                !record::intervalKeyAccepted(text.at(0).unicode()))
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

enum class Glyph { New, Open, Save, Print };

QIcon paintedIcon(Glyph glyph) {
    // Drawn at the screen's pixel density, so a scaled screen shows it sharp.
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pm(QSize(20, 20) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen outline(QColor(40, 40, 40), 1);
    switch (glyph) {
    case Glyph::New: { // a sheet crossed out: the log is closed and emptied
        p.setPen(outline);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 2.5, 11, 15));
        p.setPen(QPen(QColor(200, 0, 0), 2));
        p.drawLine(QPointF(6, 6), QPointF(14, 15));
        p.drawLine(QPointF(14, 6), QPointF(6, 15));
        break;
    }
    case Glyph::Open: { // a folder
        p.setPen(outline);
        p.setBrush(QColor(240, 200, 80));
        QPainterPath path;
        path.moveTo(2.5, 5.5);
        path.lineTo(8, 5.5);
        path.lineTo(9.5, 7.5);
        path.lineTo(17.5, 7.5);
        path.lineTo(17.5, 16.5);
        path.lineTo(2.5, 16.5);
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case Glyph::Save: { // a diskette
        p.setPen(outline);
        p.setBrush(QColor(40, 80, 170));
        p.drawRect(QRectF(3.5, 3.5, 13, 13));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6.5, 3.5, 7, 5));
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(5.5, 11.5, 9, 5));
        break;
    }
    case Glyph::Print: { // a printer with a sheet
        p.setPen(outline);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6.5, 2.5, 7, 6));
        p.setBrush(QColor(170, 170, 170));
        p.drawRect(QRectF(2.5, 8.5, 15, 6));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6.5, 12.5, 7, 5));
        break;
    }
    }
    return QIcon(pm);
}

QToolButton* addButton(QWidget* parent, const char* name, const char* hint, Glyph glyph, int x) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(QString::fromLatin1(hint));
    b->setIcon(paintedIcon(glyph));
    b->setIconSize(QSize(20, 20));
    b->setAutoRaise(true);
    b->setGeometry(x, 8, 25, 25);
    return b;
}

// Where a box of `width` centred in the run of `blank` after `before` in a check box's caption
// lies, in the check box's parent's coordinates.
QRect blankOfCaption(const QCheckBox* box, const QString& before, const QString& blank, int width) {
    QStyleOptionButton opt;
    opt.initFrom(box);
    opt.text = box->text();
    const QRect contents = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, box);
    const QFontMetrics fm(box->font());
    const int blankStart = contents.left() + fm.horizontalAdvance(before);
    const int x = blankStart + (fm.horizontalAdvance(blank) - width) / 2;
    return QRect(box->x() + x, box->y() - 1, width, box->height() + 2);
}

} // namespace

void installDigitKeyFilter(QLineEdit* edit) {
    // Only typing is filtered: a pasted or dropped text stands as it is and meets the
    // edit's own reading of its text (an interval that is no whole number counts as 0,
    // a page length that is none goes back to 100).
    edit->installEventFilter(new DigitKeyFilter(edit));
}

LogStrip::LogStrip(record::Recorder& recorder, QWidget* parent)
    : QFrame(parent), m_recorder(recorder) {
    setObjectName(QStringLiteral("RecordPanel"));
    setFixedSize(kWidth, kHeight);
    setFrameStyle(QFrame::Panel | QFrame::Raised);

    // The window's face: a small bold sans, so the long caption and the buttons fit the strip.
    QFont face = font();
    face.setPixelSize(11);
    face.setBold(true);
    setFont(face);

    const record::ReadingLogState& log = recorder.log();

    m_repeat = new QCheckBox(QStringLiteral("Repeat"), this);
    m_repeat->setObjectName(QStringLiteral("RepeatSet"));
    m_repeat->setToolTip(QStringLiteral("Repeage Record"));
    m_repeat->setChecked(log.RepeatSet);
    m_repeat->setGeometry(6, 11, m_repeat->sizeHint().width(), 19);

    m_sampling = new QCheckBox(QStringLiteral("Sampling Interval                  'S"), this);
    m_sampling->setObjectName(QStringLiteral("RecordSI"));
    m_sampling->setChecked(log.RecordSI);
    m_sampling->setGeometry(m_repeat->geometry().right() + 8, 11, m_sampling->sizeHint().width(),
                            19);

    // The seconds edit sits over the blank part of the check box's caption, just before "'S".
    m_interval = new QLineEdit(QString::fromStdString(log.RecordSITime), this);
    m_interval->setObjectName(QStringLiteral("RecordSITime"));
    installDigitKeyFilter(m_interval);
    QPalette pal = m_interval->palette();
    pal.setColor(QPalette::Base, QColor(192, 192, 192));
    m_interval->setPalette(pal);
    m_interval->setAlignment(Qt::AlignRight);
    m_interval->setGeometry(blankOfCaption(m_sampling, QStringLiteral("Sampling Interval"),
                                           QStringLiteral("                  "), 27));

    m_new = addButton(this, "RecordNew", "Close Data", Glyph::New, 294);
    m_open = addButton(this, "OpenDataFiles", "Open old data files", Glyph::Open, 319);
    m_save = addButton(this, "saveas", "Save data files", Glyph::Save, 344);
    m_print = addButton(this, "BtPrint", "Print", Glyph::Print, 369);

    connect(m_repeat, &QCheckBox::toggled, this, [this](bool on) { m_recorder.setRepeatSet(on); });
    connect(m_sampling, &QCheckBox::toggled, this, [this](bool on) { m_recorder.setRecordSI(on); });
    connect(m_interval, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_recorder.RecordSITimeChange(text.toStdString()); });
}

QList<QWidget*> LogStrip::focusChain() const {
    return {m_repeat, m_sampling, m_interval, m_new, m_open, m_save, m_print};
}

} // namespace kq::app
