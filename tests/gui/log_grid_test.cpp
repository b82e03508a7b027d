// The log grid model over the compact table and the record strip, offscreen.
#include "app/log_grid_model.h"
#include "app/log_grid_view.h"
#include "app/log_strip.h"
#include "record/recorder.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <string>

using kq::app::LogGridModel;
using kq::record::LogTable;
using kq::record::Recorder;

namespace {

void append(LogTable& t, int n, int first = 1) {
    for (int i = 0; i < n; ++i) {
        const std::string v = std::to_string((first + i) * 10);
        t.append(first + i, "12:00:00", v, "lux");
    }
}

kq::record::LogReading reading(const char* value) {
    kq::record::LogReading r;
    r.ValueText = value;
    r.UnitText = "lux";
    r.ReadingValue = std::stof(value);
    return r;
}

} // namespace

class LogGridTest : public QObject {
    Q_OBJECT
private slots:
    void showsTheFourFieldsReadOnly() {
        LogTable t;
        t.append(7, "09:05:03", "150.0", "lux");
        t.append(std::nullopt, std::nullopt, std::nullopt, std::nullopt); // a row without values
        LogGridModel m(t);
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(m.rowCount(), 2);
        QCOMPARE(m.columnCount(), 4);
        const char* titles[] = {"No", "Time", "Value", "Unit"};
        const char* cells[] = {"7", "09:05:03", "150.0", "lux"};
        const Qt::Alignment align[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight,
                                       Qt::AlignRight};
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(m.headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(titles[c]));
            const QModelIndex i = m.index(0, c);
            QCOMPARE(m.data(i).toString(), QString::fromLatin1(cells[c]));
            QCOMPARE(Qt::Alignment(m.data(i, Qt::TextAlignmentRole).toInt()) &
                         Qt::AlignHorizontal_Mask,
                     align[c]);
            QVERIFY(!(m.flags(i) & Qt::ItemIsEditable));
            QVERIFY(m.flags(i) & Qt::ItemIsSelectable);
            QVERIFY(!m.data(m.index(1, c)).isValid());
            QVERIFY(!m.setData(i, QStringLiteral("x")));
        }
        const QFont f = m.data(m.index(0, 0), Qt::FontRole).value<QFont>();
        QCOMPARE(f.pixelSize(), 12);
        QCOMPARE(m.data(m.index(0, 3), Qt::FontRole).value<QFont>().pixelSize(), 12);
    }

    void showsTwentyCharactersOfWideTexts_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        const QString e = QString::fromUtf8("\xC3\xA9");
        QTest::newRow("twenty-five two-byte characters") << e.repeated(25) << e.repeated(20);
        QTest::newRow("nineteen and a three-byte one")
            << QString(19, QLatin1Char('1')) + QString::fromUtf8("\xE2\x82\xACx")
            << QString(19, QLatin1Char('1')) + QString::fromUtf8("\xE2\x82\xAC");
        QTest::newRow("micro and degree") << QString::fromUtf8("\xC2\xB5W/cm\xC2\xB2")
                                          << QString::fromUtf8("\xC2\xB5W/cm\xC2\xB2");
    }

    void showsTwentyCharactersOfWideTexts() {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        LogTable t;
        const QByteArray bytes = stored.toUtf8();
        const std::string_view text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        t.append(1, text, text, text);
        LogGridModel m(t);
        for (int c = 1; c < 4; ++c) {
            const QString cell = m.data(m.index(0, c)).toString();
            QCOMPARE(cell, shown);
            QVERIFY(!cell.contains(QChar::ReplacementCharacter));
        }
    }

    void syncInsertsNewRowsAndResetsReplacedTables() {
        LogTable t;
        LogGridModel m(t);
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(&m, &QAbstractItemModel::modelReset);

        struct Step {
            const char* name;
            std::function<void()> change;
            int rows;
            int inserts;
            int resets;
        };
        const Step steps[] = {
            {"nothing", [] {}, 0, 0, 0},
            {"append 3", [&] { append(t, 3); }, 3, 1, 0},
            {"append 1", [&] { append(t, 1, 4); }, 4, 2, 0},
            {"no change", [] {}, 4, 2, 0},
            {"cleared", [&] { t.clear(); }, 0, 2, 1},
            {"append after clear", [&] { append(t, 2); }, 2, 3, 1},
            {"cleared and refilled with more",
             [&] {
                 t.clear();
                 append(t, 5, 100);
             },
             5, 3, 2},
            {"cut", [&] { t.truncate(1); }, 1, 3, 3},
        };
        for (const auto& s : steps) {
            s.change();
            m.sync();
            QVERIFY2(m.rowCount() == s.rows, s.name);
            QVERIFY2(inserted.count() == s.inserts, s.name);
            QVERIFY2(reset.count() == s.resets, s.name);
        }
        QCOMPARE(m.data(m.index(0, 0)).toString(), QStringLiteral("100"));
        // an insert names exactly the new rows
        append(t, 2);
        m.sync();
        QCOMPARE(inserted.last().at(1).toInt(), 1);
        QCOMPARE(inserted.last().at(2).toInt(), 2);
    }

    void gridFollowsTheNewestRow() {
        Recorder rec;
        kq::app::LogGridView grid;
        LogGridModel m(rec.cds1);
        kq::app::configureLogGrid(&grid, &m);
        grid.resize(398, 233);
        grid.show();
        QCOMPARE(grid.objectName(), QStringLiteral("DBGrid1"));
        const int widths[] = {80, 100, 100, 70};
        for (int c = 0; c < 4; ++c)
            QCOMPARE(grid.columnWidth(c), widths[c]);
        QCOMPARE(grid.selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(grid.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);

        for (int i = 0; i < 300; ++i)
            rec.offer(reading("5"));
        m.sync();
        QCOMPARE(grid.currentIndex().row(), 299);
        QVERIFY(grid.visualRect(m.index(299, 0)).intersects(grid.viewport()->rect()));
        rec.RecordNew();
        m.sync();
        QCOMPARE(m.rowCount(), 0);
        rec.offer(reading("6"));
        m.sync();
        QCOMPARE(grid.currentIndex().row(), 0);
        QCOMPARE(m.data(m.index(0, 0)).toString(), QStringLiteral("1"));
    }

    // Where the grid's current row stands after each change to the table: on the newest
    // row after appends, on the first row of a table opened anew, nowhere in an empty one.
    void gridHasACurrentRowAfterEveryChange() {
        LogTable t;
        kq::app::LogGridView grid;
        LogGridModel m(t);
        kq::app::configureLogGrid(&grid, &m);
        grid.resize(398, 233);
        grid.show();
        struct Step {
            const char* name;
            std::function<void()> change;
            int current; // -1: no current row
        };
        const Step steps[] = {
            {"empty at start", [] {}, -1},
            {"three appended", [&] { append(t, 3); }, 2},
            {"replaced by a loaded table",
             [&] {
                 LogTable loaded;
                 append(loaded, 5, 50);
                 t = std::move(loaded);
             },
             0},
            {"one appended to the loaded table", [&] { append(t, 1, 60); }, 5},
            {"emptied", [&] { t.clear(); }, -1},
            {"appended after emptying", [&] { append(t, 2); }, 1},
            {"replaced by an empty table", [&] { t = LogTable(); }, -1},
            {"replaced by a one-row table",
             [&] {
                 LogTable loaded;
                 append(loaded, 1, 7);
                 t = std::move(loaded);
             },
             0},
            {"cut back",
             [&] {
                 append(t, 4);
                 t.truncate(2);
             },
             0},
        };
        for (const auto& s : steps) {
            s.change();
            m.sync();
            QVERIFY2(grid.currentIndex().row() == s.current,
                     qPrintable(QString("%1: row %2").arg(s.name).arg(grid.currentIndex().row())));
            if (s.current >= 0) {
                QVERIFY2(grid.selectionModel()->isRowSelected(s.current, {}), s.name);
                QVERIFY2(grid.visualRect(m.index(s.current, 0)).intersects(grid.viewport()->rect()),
                         s.name);
            }
        }
        // the keyboard moves on from the first row of a loaded table at once
        LogTable loaded;
        append(loaded, 3, 20);
        t = std::move(loaded);
        m.sync();
        QTest::keyClick(grid.viewport(), Qt::Key_Down);
        QCOMPARE(grid.currentIndex().row(), 1);
    }

    // The grid paints rows itself and, while it follows, only the rows that came in: what is
    // on the screen after each step must be what the stock table view draws from scratch.
    void looksLikeTheStockTableAfterEveryStep() {
        LogTable t;
        LogGridModel m(t);
        kq::app::LogGridView grid;
        kq::app::configureLogGrid(&grid, &m);
        grid.resize(398, 233);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        const auto screen = [&] {
            for (int i = 0; i < 3; ++i)
                QCoreApplication::processEvents();
            return grid.screen()->grabWindow(grid.winId()).toImage();
        };
        const auto stock = [&] {
            LogGridModel sm(t);
            QTableView view;
            kq::app::configureLogGrid(&view, &sm);
            view.resize(grid.size());
            view.show();
            if (grid.currentIndex().isValid())
                view.setCurrentIndex(sm.index(grid.currentIndex().row(), 0));
            view.horizontalScrollBar()->setValue(grid.horizontalScrollBar()->value());
            view.verticalScrollBar()->setValue(grid.verticalScrollBar()->value());
            return view.grab().toImage();
        };
        struct Step {
            const char* name;
            std::function<void()> change;
        };
        const Step steps[] = {
            {"empty", [] {}},
            {"two rows while not following",
             [&] {
                 m.setFollowNewest(false);
                 append(t, 2);
             }},
            {"a third while following",
             [&] {
                 m.setFollowNewest(true);
                 append(t, 1, 3);
             }},
            {"one row at a time past the bottom",
             [&] {
                 for (int i = 0; i < 14; ++i) {
                     append(t, 1, 4 + i);
                     m.sync();
                     screen();
                 }
             }},
            {"many rows at once", [&] { append(t, 250, 18); }},
            {"scrolled back, a row chosen",
             [&] {
                 grid.scrollTo(m.index(120, 0), QAbstractItemView::PositionAtTop);
                 grid.setCurrentIndex(m.index(125, 0));
             }},
            {"rows coming in while not following",
             [&] {
                 m.setFollowNewest(false);
                 append(t, 5, 268);
             }},
            {"following again",
             [&] {
                 m.setFollowNewest(true);
                 append(t, 1, 273);
             }},
            {"page up", [&] { QTest::keyClick(grid.viewport(), Qt::Key_PageUp); }},
            {"a click on a row",
             [&] {
                 const QModelIndex at = grid.indexAt(QPoint(150, 40));
                 QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, QPoint(150, 40));
                 QCOMPARE(grid.currentIndex().row(), at.row());
             }},
        };
        for (const auto& s : steps) {
            s.change();
            m.sync();
            QVERIFY2(screen() == stock(), s.name);
        }
    }

    void scrollsAcrossAMillionRows() {
        LogTable t;
        append(t, 1000000);
        kq::app::LogGridView grid;
        LogGridModel m(t);
        kq::app::configureLogGrid(&grid, &m);
        grid.resize(398, 233);
        grid.show();
        for (int row : {999999, 0, 512345}) {
            grid.scrollTo(m.index(row, 0));
            QVERIFY(grid.visualRect(m.index(row, 2)).intersects(grid.viewport()->rect()));
            QCOMPARE(grid.indexAt(grid.visualRect(m.index(row, 2)).center()).row(), row);
        }
        QCOMPARE(m.data(m.index(512345, 2)).toString(), QString::number(512346 * 10));
    }

    void stripDrivesTheRecorder() {
        Recorder rec;
        kq::app::LogStrip strip(rec);
        strip.show();
        QCOMPARE(strip.size(), QSize(398, 41));
        QVERIFY(strip.RepeatSet()->isChecked());
        QCOMPARE(strip.RepeatSet()->text(), QStringLiteral("Repeat"));
        QCOMPARE(strip.RepeatSet()->toolTip(), QStringLiteral("Repeage Record"));
        QVERIFY(!strip.RecordSI()->isChecked());
        QCOMPARE(strip.RecordSI()->text(), QStringLiteral("Sampling Interval                  'S"));
        QCOMPARE(strip.RecordSITime()->text(), QStringLiteral("1"));
        QCOMPARE(strip.RecordSITime()->width(), 27);
        const char* buttons[][2] = {{"RecordNew", "Close Data"},
                                    {"OpenDataFiles", "Open old data files"},
                                    {"saveas", "Save data files"},
                                    {"BtPrint", "Print"}};
        for (auto& b : buttons) {
            auto* button = strip.findChild<QToolButton*>(QString::fromLatin1(b[0]));
            QVERIFY(button);
            QCOMPARE(button->toolTip(), QString::fromLatin1(b[1]));
            QVERIFY(!button->icon().isNull());
            QVERIFY(strip.rect().contains(button->geometry()));
        }
        // the edit lies over the blank of the caption, clear of the buttons
        QVERIFY(strip.RecordSITime()->geometry().right() < strip.RecordNew()->geometry().left());

        QTest::mouseClick(strip.RepeatSet(), Qt::LeftButton, {}, QPoint(6, 9));
        QVERIFY(!rec.log().RepeatSet);
        QTest::mouseClick(strip.RecordSI(), Qt::LeftButton, {}, QPoint(6, 9));
        QVERIFY(rec.log().RecordSI);

        struct Typing {
            QString keys;
            const char* text;
            int ticks;
        };
        const Typing typing[] = {
            {QStringLiteral("3"), "3", 3},
            {QStringLiteral("a-.+ "), "", 0}, // only digits and backspace pass
            {QStringLiteral("12"), "12", 12},
            {QStringLiteral("99999999999"), "99999999999", 2147483647},
        };
        for (const auto& c : typing) {
            strip.RecordSITime()->clear();
            QTest::keyClicks(strip.RecordSITime(), c.keys);
            QCOMPARE(strip.RecordSITime()->text(), QString::fromLatin1(c.text));
            QCOMPARE(rec.log().SampleTicks, c.ticks);
        }
        strip.RecordSITime()->clear();
        QTest::keyClicks(strip.RecordSITime(), QStringLiteral("45"));
        QTest::keyClick(strip.RecordSITime(), Qt::Key_Backspace);
        QCOMPARE(rec.log().SampleTicks, 4);
        // a pasted text is not filtered like typing: it stands, and as no whole number
        // it counts as 0, as the empty text does
        strip.RecordSITime()->selectAll();
        strip.RecordSITime()->insert(QStringLiteral(" 1a0\t"));
        QCOMPARE(strip.RecordSITime()->text(), QStringLiteral(" 1a0\t"));
        QCOMPARE(rec.log().SampleTicks, 0);
        QCOMPARE(rec.log().RecordSITime, std::string(" 1a0\t"));
    }
};

QTEST_MAIN(LogGridTest)
#include "log_grid_test.moc"
