#include "support/virtual_meter.h"

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

namespace kq::test {

VirtualMeter::VirtualMeter(const QString& link, const QStringList& options) {
    m_pathFile = link + ".path";
    QFile::remove(m_pathFile);
    m_process.setProgram(KQ_SIM_PATH);
    // --verbose tells each frame on stderr: the count proves how long the
    // meter has been sending while a test waits for nothing to happen.
    m_process.setArguments(QStringList{"--link", link, "--path-file", m_pathFile, "--verbose"} +
                           options);
    m_process.start();
}

VirtualMeter::~VirtualMeter() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    framesSent();
    for (const QByteArray& line : m_told.split('\n'))
        if (!line.isEmpty() && !line.startsWith("frame ") && line != "hang-up")
            qWarning("kqmeter-sim: %s", line.constData());
}

bool VirtualMeter::ready() const {
    return QFileInfo(m_pathFile).size() > 0;
}

bool VirtualMeter::finished() const {
    return m_process.state() == QProcess::NotRunning;
}

int VirtualMeter::framesSent() {
    m_told += m_process.readAllStandardError();
    int n = 0;
    for (const QByteArray& line : m_told.split('\n'))
        n += line.startsWith("frame ");
    return n;
}

} // namespace kq::test
