// vxconf-cli on several simulated VX310s at once, and as a station that provisions each
// unit as it appears: the real program against vx310sim processes on pseudo-terminals.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <vector>

#include "ProcessRun.h"
#include "cli/CliSession.h"
#include "sim/SimulatorProcess.h"

namespace {

struct GangTest : public ::testing::Test {
    QTemporaryDir dir;
    std::vector<std::unique_ptr<SimulatorProcess>> units;

    // Unit k (from 1) as COMk, with its serial number and the simulator's options.
    void addUnit(unsigned serial, QStringList options = {}, bool pacing = false) {
        auto sim = std::make_unique<SimulatorProcess>();
        QString error;
        if (!pacing) {
            options << "--no-pacing";
        }
        options << "--serial" << QString::number(serial);
        ASSERT_TRUE(sim->start(options, error)) << error.toStdString();
        units.push_back(std::move(sim));
        QFile settings(dir.filePath("vxconf.ini"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        QByteArray text = "[Ports]\n";
        for (std::size_t i = 0; i < units.size(); ++i) {
            text += "COM" + QByteArray::number(qulonglong(i + 1)) + "=" +
                    units[i]->devicePath().toLocal8Bit() + "\n";
        }
        settings.write(text);
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path());
        return env;
    }

    Result cli(const QStringList& args) {
        return runProcess(VXCONF_CLI, args, environment(), 60000);
    }

    QJsonObject readUnit(unsigned port) {
        const Result read = cli({"-p", QString::number(port), "read", "--json"});
        EXPECT_EQ(read.code, kExitOk) << read.err;
        return QJsonDocument::fromJson(QByteArray::fromStdString(read.out)).object();
    }

    // A configuration file with Port 2's parity odd, saved from unit 1.
    QString oddParityFile() {
        const QString path = dir.filePath("odd.vxc");
        const Result save = cli({"-p", "1", "save", path, "-d", "odd"});
        EXPECT_EQ(save.code, kExitOk) << save.err;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        bytes.replace(4 + 2 * 16, 2, "03");  // Port 2 parity code 3: odd
        file.seek(0);
        file.write(bytes);
        return path;
    }

    // The bytes a unit was sent, from its trace.
    QByteArray sentTo(const QString& trace) {
        QFile file(trace);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << trace.toStdString();
        QByteArray bytes;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const int tx = line.indexOf(" TX ");
            if (tx < 0) {
                continue;
            }
            const QByteArray hex = line.mid(tx + 4, line.indexOf('|') - tx - 4).simplified();
            bytes += QByteArray::fromHex(hex);
        }
        return bytes;
    }
};

TEST_F(GangTest, OneUnitThatKeepsItsOldConfigurationIsTheOnlyMismatch) {
    addUnit(101);
    addUnit(102, {"--ignore-stores"});
    addUnit(103);
    const QString file = oddParityFile();
    const QString record = dir.filePath("units.csv");
    const QString trace = dir.filePath("trace");
    const Result run = cli({"-p", "1-3", "--yes", "--log", record, "--trace", trace, "load", file});
    EXPECT_EQ(run.code, kExitMismatch) << run.err;
    EXPECT_NE(run.err.find("COM1: serial 101: ok"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("COM3: serial 103: ok"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("3 units: 2 ok, 1 mismatch (COM2, serial 102: Port 2 Parity: sent "
                           "odd, the VX310 holds even)"),
              std::string::npos)
        << run.err;

    for (unsigned k = 1; k <= 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(readUnit(k).value("port2").toObject().value("parity").toString(),
                  k == 2 ? "even" : "odd");
        // Each unit was sent its own configuration, with its own serial number, once.
        const QByteArray sent = sentTo(trace + ".COM" + QString::number(k));
        EXPECT_EQ(sent.count("\x05L"), 1);
        const QByteArray serial = QByteArray::number(100 + k, 16).rightJustified(4, '0');
        EXPECT_TRUE(
            sent.contains("\x05Lv10" + QByteArray(1, sent[sent.indexOf("\x05L") + 5]) + serial))
            << sent.toStdString();
    }
    QFile csv(record);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QByteArray rows = csv.readAll();
    EXPECT_EQ(rows.count("\n20"), 3) << "one whole row a unit, after the header";
    EXPECT_EQ(rows.count(",mismatch,"), 1);
}

TEST_F(GangTest, APlanGivesEachUnitItsOwnAddressAndLeavesAnUnknownUnitUntouched) {
    addUnit(201);
    addUnit(202);
    addUnit(203);
    const QJsonObject before = readUnit(3);
    const QString plan = dir.filePath("plan.csv");
    QFile planFile(plan);
    ASSERT_TRUE(planFile.open(QIODevice::WriteOnly));
    planFile.write("serialNumber,mode2.address\r\n201,11\r\n202,12\r\n");
    planFile.close();

    const QString trace = dir.filePath("trace");
    const QString record = dir.filePath("units.csv");
    const Result run = cli({"-p", "1-3", "--plan", plan, "--json", "--log", record, "--trace",
                            trace, "set", "port1.parity=odd"});
    EXPECT_EQ(run.code, kExitUsage) << run.err;
    EXPECT_NE(run.err.find("Serial number 203 is not in the plan"), std::string::npos) << run.err;
    EXPECT_EQ(readUnit(1).value("mode2").toObject().value("address").toInt(), 11);
    EXPECT_EQ(readUnit(2).value("mode2").toObject().value("address").toInt(), 12);
    EXPECT_EQ(readUnit(1).value("port1").toObject().value("parity").toString(), "odd");
    EXPECT_EQ(readUnit(3), before);
    EXPECT_FALSE(sentTo(trace + ".COM3").contains("\x05L")) << "nothing stored on unit 3";

    // One JSON object a unit, with its planned values.
    int objects = 0;
    for (const QByteArray& line : QByteArray::fromStdString(run.out).split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        const QJsonObject unit = QJsonDocument::fromJson(line).object();
        ASSERT_FALSE(unit.isEmpty()) << line.toStdString();
        ++objects;
        if (unit.value("serialNumber").toInt() == 202) {
            EXPECT_EQ(unit.value("planned").toString(), "mode2.address=12");
            EXPECT_EQ(unit.value("result").toString(), "ok");
        }
    }
    EXPECT_EQ(objects, 3);
    QFile csv(record);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readAll().contains("planned mode2.address=12"));

    // A plan with a mistake refuses the whole run before any unit is touched.
    ASSERT_TRUE(planFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
    planFile.write("serialNumber,mode2.address\n201,11\n201,13\n");
    planFile.close();
    const Result refused =
        cli({"-p", "1-3", "--plan", plan, "--trace", dir.filePath("refused"), "set"});
    EXPECT_EQ(refused.code, kExitUsage);
    EXPECT_NE(refused.err.find("serial number 201 has a row already"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(QDir(dir.path()).entryList({"refused*"}).isEmpty()) << "no unit was opened";
}

TEST_F(GangTest, AUnitThatFallsSilentFailsAlone) {
    addUnit(301);
    addUnit(302, {"--silent-after-reads", "1"});
    addUnit(303);
    const QString file = oddParityFile();
    const Result run = cli({"-p", "1-3", "--yes", "load", file});
    EXPECT_EQ(run.code, kExitDevice) << run.err;
    // It answered the first read: the window's advice to check the port choice would mislead.
    EXPECT_NE(run.err.find("3 units: 2 ok, 1 error (COM2, serial 302: The VX310 on " +
                           units[1]->devicePath().toStdString() +
                           " answered at first, then stopped answering during the run)"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readUnit(1).value("port2").toObject().value("parity").toString(), "odd");
    EXPECT_EQ(readUnit(3).value("port2").toObject().value("parity").toString(), "odd");
}

TEST_F(GangTest, AStationProvisionsEachUnitThatAppearsOnceAndStopsOnInterrupt) {
    addUnit(401);
    addUnit(402);
    QTemporaryDir watched;
    QProcess station;
    station.setProcessEnvironment(environment());
    station.start(VXCONF_CLI, {"--watch-dir", watched.path(), "watch", "set", "mode2.address=9"});
    ASSERT_TRUE(station.waitForStarted());
    QByteArray err;
    auto waitFor = [&](const QByteArray& text) {
        QElapsedTimer clock;
        clock.start();
        while (!err.contains(text) && clock.elapsed() < 20000) {
            station.waitForReadyRead(100);
            err += station.readAllStandardError();
        }
        return err.contains(text);
    };
    ASSERT_TRUE(waitFor("Waiting for serial devices")) << err.toStdString();
    ASSERT_TRUE(QFile::link(units[0]->devicePath(), watched.filePath("unit-a")));
    ASSERT_TRUE(waitFor("serial 401: ok")) << err.toStdString();
    ASSERT_TRUE(QFile::link(units[1]->devicePath(), watched.filePath("unit-b")));
    ASSERT_TRUE(waitFor("serial 402: ok")) << err.toStdString();
    // Still plugged in: nothing runs again.
    QThread::msleep(1000);
    err += station.readAllStandardError();
    ::kill(static_cast<pid_t>(station.processId()), SIGINT);
    ASSERT_TRUE(station.waitForFinished(20000));
    err += station.readAllStandardError();
    EXPECT_EQ(station.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(station.exitCode(), kExitOk) << err.toStdString();
    EXPECT_EQ(err.count("serial 401: ok"), 1) << err.toStdString();
    EXPECT_EQ(err.count("serial 402: ok"), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("2 units: 2 ok")) << err.toStdString();
    EXPECT_EQ(readUnit(2).value("mode2").toObject().value("address").toInt(), 9);
}

// An Intel HEX file of count 16-byte records from 0x4004.
QString hexFile(const QString& path, int count) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    for (int r = 0; r < count; ++r) {
        QByteArray record;
        const unsigned address = 0x4004 + 16 * unsigned(r);
        record.append(char(16)).append(char(address >> 8)).append(char(address & 0xFF));
        record.append('\0');
        for (int i = 0; i < 16; ++i) {
            record.append(char((r + i) & 0xFF));
        }
        unsigned sum = 0;
        for (const char c : record) {
            sum += static_cast<unsigned char>(c);
        }
        record.append(char((0x100 - (sum & 0xFF)) & 0xFF));
        file.write(":" + record.toHex().toUpper() + "\r\n");
    }
    file.write(":00000001FF\r\n");
    return path;
}

TEST_F(GangTest, AUnitThatDisappearsMidUploadFailsAlone) {
    addUnit(601, {}, true);
    addUnit(602, {}, true);
    const QString hex = hexFile(dir.filePath("small.hex"), 60);
    QProcess run;
    run.setProcessEnvironment(environment());
    run.start(VXCONF_CLI, {"-p", "1-2", "--yes", "upload", hex});
    ASSERT_TRUE(run.waitForStarted());
    QThread::msleep(2000);
    units[1]->stop();  // the adapter is pulled
    ASSERT_TRUE(run.waitForFinished(60000));
    const std::string err = run.readAllStandardError().toStdString();
    EXPECT_EQ(run.exitCode(), kExitDevice) << err;
    EXPECT_NE(err.find("COM1: serial 601: ok"), std::string::npos) << err;
    EXPECT_NE(err.find("2 units: 1 ok, 1 error (COM2, serial 602"), std::string::npos) << err;
}

TEST_F(GangTest, AnInterruptMidUploadAbortsEveryUnitAndLeavesEachAtItsPrompt) {
    addUnit(501, {}, true);
    addUnit(502, {}, true);
    // About 9 KB: some ten seconds at the upload's pace.
    const QString hex = hexFile(dir.filePath("big.hex"), 200);
    const QString trace = dir.filePath("trace");
    QProcess run;
    run.setProcessEnvironment(environment());
    run.start(VXCONF_CLI, {"-p", "1-2", "--yes", "--trace", trace, "upload", hex});
    ASSERT_TRUE(run.waitForStarted());
    // Both units well into the file.
    QThread::msleep(3000);
    ::kill(static_cast<pid_t>(run.processId()), SIGINT);
    ASSERT_TRUE(run.waitForFinished(30000));
    const std::string err = run.readAllStandardError().toStdString();
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 130) << err;
    EXPECT_NE(err.find("2 units: "), std::string::npos) << err;
    for (unsigned k = 1; k <= 2; ++k) {
        SCOPED_TRACE(k);
        const QByteArray sent = sentTo(trace + ".COM" + QString::number(k));
        EXPECT_TRUE(sent.contains("UF\r")) << "the upload had begun";
        EXPECT_TRUE(sent.endsWith("\r\x1b")) << "the abort sequence ends what the unit was sent";
        // Not half-way through a program: the unit answers at its prompt.
        EXPECT_EQ(readUnit(k).value("serialNumber").toInt(), int(500 + k));
    }
}

}  // namespace
