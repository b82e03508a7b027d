// The window of each model the test command builds: title, limit texts and MIN/MAX
// captions typed from the model and range tables, so that a build of another meter
// that starts wrong fails here.
#include "app/tfcomm.h"
#include "support/recording_dialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using kq::app::TFCOMM;
using kq::test::RecordingDialogs;

namespace {

struct BuildCase {
    const char* list;
    const char* title;
    const char* high;
    const char* low;
    const char* minText;
    const char* maxText;
};

const BuildCase kBuilds[] = {
    {"ifkq510", "KQ510 Interface Program Ver:2.00", "2000", "-2000", "-2001", "2001"},
    {"IFKQ24B;IFKQ12D", "KQ12D Interface Program _Ver: 2.06", "3400", "-3400", "3401", "-3401"},
};

QString textOf(QWidget& w, const char* name) {
    if (auto* edit = w.findChild<QLineEdit*>(name))
        return edit->text();
    if (auto* label = w.findChild<QLabel*>(name))
        return label->text();
    qFatal("no child %s", name);
}

} // namespace

class BuiltModelTest : public QObject {
    Q_OBJECT
private slots:
    void theWindowStartsAsTheBuiltModel() {
        const BuildCase* build = nullptr;
        for (const BuildCase& b : kBuilds)
            if (QString(b.list) == QString(KQ_MODEL_SWITCHES).replace(',', ';'))
                build = &b;
        if (build == nullptr)
            QFAIL(
                qPrintable(QString("no expectations for the build \"%1\"").arg(KQ_MODEL_SWITCHES)));
        RecordingDialogs dialogs;
        TFCOMM w(dialogs);
        w.show();
        QCOMPARE(w.windowTitle(), QString(build->title));
        QCOMPARE(textOf(w, "T1HI"), QString(build->high));
        QCOMPARE(textOf(w, "T1LO"), QString(build->low));
        QCOMPARE(textOf(w, "MinText"), QString(build->minText));
        QCOMPARE(textOf(w, "MaxText"), QString(build->maxText));
        QVERIFY(dialogs.messages.empty());
    }
};

QTEST_MAIN(BuiltModelTest)
#include "built_model_test.moc"
