// The chart picture is saved under the same rules as a log file: a
// write-protected file is refused and kept, a file that cannot be renamed over
// (hard links, a folder that takes no new file) is written in place.
#include "print/picture_export.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QImage chart() {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

// 0 when saved, 1 when refused with a reason; run as an ordinary user (a
// child that became nobody when the test runs as root, who may write anywhere).
int saveAsPlainUser(const QString& path) {
    auto body = [&] {
        QString error;
        if (kq::print::saveBitmap(chart(), path, &error))
            return 0;
        return error.contains(QStringLiteral("Permission denied")) ? 1 : 2;
    };
    if (::geteuid() != 0)
        return body();
    // A save in place keeps the old content in the user's data folder.
    QTemporaryDir data;
    ::chmod(QFile::encodeName(data.path()).constData(), 0777);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(101);
        ::setenv("XDG_DATA_HOME", QFile::encodeName(data.path()).constData(), 1);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return 102;
    return WEXITSTATUS(status);
}

} // namespace

class PictureSaveTest : public QObject {
    Q_OBJECT
private slots:
    void rules_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("saved");
        QTest::newRow("new file, any extension") << "none" << true;
        QTest::newRow("write-protected file") << "readonly" << false;
        QTest::newRow("hard-linked file") << "hardlink" << true;
        QTest::newRow("folder takes no new file, file writable") << "closedfolder" << true;
        QTest::newRow("folder takes no new file, no file yet") << "closedfolder-new" << false;
    }

    void rules() {
        QFETCH(QString, setup);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("chart.jpg"));
        const QByteArray old = "old picture";
        if (setup != QLatin1String("none") && setup != QLatin1String("closedfolder-new"))
            writeAll(path, old);
        const std::string local = QFile::encodeName(path).toStdString();
        const std::string folder = QFile::encodeName(dir.path()).toStdString();
        if (setup == QLatin1String("readonly"))
            ::chmod(local.c_str(), 0444);
        if (setup == QLatin1String("hardlink"))
            QCOMPARE(::link(local.c_str(), (folder + "/twin.bmp").c_str()), 0);

        int result = 0;
        if (setup.startsWith(QLatin1String("closedfolder"))) {
            if (::geteuid() == 0) {
                ::chmod(folder.c_str(), 0755);
                if (QFile::exists(path))
                    QCOMPARE(::chown(local.c_str(), kNobody, kNobody), 0);
            } else {
                ::chmod(folder.c_str(), 0555);
            }
            result = saveAsPlainUser(path);
            ::chmod(folder.c_str(), 0700);
        } else {
            QString error;
            result = kq::print::saveBitmap(chart(), path, &error) ? 0 : 1;
            if (result)
                QVERIFY2(error.contains(QStringLiteral("Permission denied")), qPrintable(error));
        }
        QCOMPARE(result, saved ? 0 : 1);
        if (saved) {
            QCOMPARE(readAll(path).left(2), QByteArray("BM"));
            if (setup == QLatin1String("hardlink"))
                QCOMPARE(readAll(dir.filePath(QStringLiteral("twin.bmp"))), readAll(path));
        } else if (QFile::exists(path)) {
            QCOMPARE(readAll(path), old);
        }
        QStringList expected;
        if (saved || setup == QLatin1String("readonly"))
            expected << QStringLiteral("chart.jpg");
        if (setup == QLatin1String("hardlink"))
            expected << QStringLiteral("twin.bmp");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
    }
};

QTEST_GUILESS_MAIN(PictureSaveTest)
#include "picture_save_test.moc"
