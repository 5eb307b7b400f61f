// The user program against vx310sim on a pseudo-terminal, with real ports and timers:
// upload a HEX file, download it back, compare the program bytes, delete it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "TestSupport.h"
#include "device/PortNames.h"
#include "platform/QtPortDriver.h"
#include "sim/SimulatorProcess.h"
#include "window/CVxconfDlg.h"

namespace {

constexpr int kPort = 202;

// A program of 1000 bytes from 0x4004 in 16-byte records with CR LF line ends.
QByteArray hexFile(const QByteArray& program) {
    QByteArray text;
    unsigned address = 0x4004;
    for (int i = 0; i < program.size(); i += 16) {
        const QByteArray chunk = program.mid(i, 16);
        QByteArray record;
        record.append(char(chunk.size()));
        record.append(char(address >> 8));
        record.append(char(address & 0xFF));
        record.append('\0');
        record.append(chunk);
        unsigned sum = 0;
        for (const char c : record) {
            sum += static_cast<unsigned char>(c);
        }
        record.append(char((0x100 - (sum & 0xFF)) & 0xFF));
        text += ":" + record.toHex().toUpper() + "\r\n";
        address += static_cast<unsigned>(chunk.size());
    }
    return text + ":00000001FF\r\n";
}

TEST(EndToEnd, UploadDownloadAndDeleteTheUserProgram) {
    QTemporaryDir dir;
    QByteArray program;
    for (int i = 0; i < 1000; ++i) {
        program.append(char((i * 13 + 7) & 0xFF));
    }
    const QString hexPath = dir.filePath("prog.hex");
    QFile hex(hexPath);
    ASSERT_TRUE(hex.open(QIODevice::WriteOnly));
    hex.write(hexFile(program));
    hex.close();

    SimulatorProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({"--no-pacing"}, error)) << error.toStdString();
    PortNames names;
    names.setOverride(kPort, sim.devicePath().toStdString());
    QtPortDriver driver(names.resolver());
    RecordingNotifier notes;
    ScriptedFiles files;
    RecordingHelp help;
    QTimer watchdog;  // a modal dialog still up after the limit ends, so nothing hangs
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->done(99);
        }
    });
    watchdog.start(30000);

    CVxconfDlg window(driver, dir.filePath("vxconf.ini").toStdString(), &notes, &help, &files);
    window.setStartPort(kPort);
    ASSERT_TRUE(window.initialise());

    files.answers = {hexPath.toStdString()};
    window.uploadProgram();
    ASSERT_GE(notes.notices.size(), 2u);
    EXPECT_EQ(notes.notices[1].caption, "Upload complete");
    EXPECT_EQ(window.findChild<QLabel*>("validProgramLabel")->text(), "Valid Program: YES");

    const QString backPath = dir.filePath("back.hex");
    files.answers = {backPath.toStdString()};
    window.downloadProgram();
    EXPECT_EQ(notes.notices.back().text,
              backPath.toStdString() + " created successfully\nProgram length = 1000");
    EXPECT_TRUE(QFile::exists(backPath + ".tmp"));
    // srecord, a tool we did not write, turns it back into the program's bytes.
    const QString binPath = dir.filePath("back.bin");
    QProcess cat;
    cat.start("srec_cat", {backPath, "-Intel", "-offset", "-", "-minimum-addr", backPath, "-Intel",
                           "-o", binPath, "-Binary"});
    ASSERT_TRUE(cat.waitForFinished(10000));
    ASSERT_EQ(cat.exitCode(), 0) << cat.readAllStandardError().toStdString();
    QFile bin(binPath);
    ASSERT_TRUE(bin.open(QIODevice::ReadOnly));
    EXPECT_EQ(bin.readAll(), program);

    notes.answers = {NoticeAnswer::Yes};
    window.deleteProgram();
    EXPECT_EQ(window.findChild<QLabel*>("validProgramLabel")->text(), "Valid Program: NO");
}

}  // namespace
