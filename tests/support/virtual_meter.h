#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace kq::test {

// The virtual meter (kqmeter-sim) as a process of the test, its line reached
// through a fixed link path, so a meter started later on the same link is
// "the same cable". It ends with the object; whatever it said besides its
// frames (a failure to start) is shown as a warning then.
class VirtualMeter {
public:
    VirtualMeter(const QString& link, const QStringList& options);
    ~VirtualMeter();
    VirtualMeter(const VirtualMeter&) = delete;
    VirtualMeter& operator=(const VirtualMeter&) = delete;

    // The line is open and its path written.
    bool ready() const;
    bool finished() const;
    // Frames sent so far, whether anybody read them or not.
    int framesSent();

private:
    QProcess m_process;
    QString m_pathFile;
    QByteArray m_told;
};

} // namespace kq::test
