// vxconf-cli on several simulated VX310s at once, and as a station that provisions each
// unit as it appears: the real program against vx310sim processes on pseudo-terminals.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "ProcessRun.h"
#include "TestSupport.h"
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
        env.insert("XDG_DATA_HOME", dir.path());
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

    // The plan file, written (or added to) with these lines; its path.
    QString writePlan(const QByteArray& lines,
                      QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Truncate) {
        const QString path = dir.filePath("plan.csv");
        QFile file(path);
        EXPECT_TRUE(file.open(mode));
        file.write(lines);
        return path;
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
    // The summary ends the run, with a line for the unit that failed.
    EXPECT_NE(run.err.find("3 units: 2 ok, 1 failed, yield 66.7%\nCOM2: serial 102: MISMATCH ("),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("): Port 2 Parity: sent odd, the VX310 holds even\n"), std::string::npos)
        << run.err;

    for (unsigned k = 1; k <= 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(readUnit(k).value("port2").toObject().value("parity").toString(),
                  k == 2 ? "even" : "odd");
        // Each unit was sent its own configuration, with its own serial number, once.
        const QByteArray sent = sentIn(trace + ".COM" + QString::number(k));
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
    const QString plan = writePlan("serialNumber,mode2.address\r\n201,11\r\n202,12\r\n");

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
    EXPECT_FALSE(sentIn(trace + ".COM3").contains("\x05L")) << "nothing stored on unit 3";

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
    writePlan("serialNumber,mode2.address\n201,11\n201,13\n");
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
    EXPECT_NE(run.err.find("3 units: 2 ok, 1 failed"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("COM2: serial 302: error ("), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("): The VX310 on " + units[1]->devicePath().toStdString() +
                           " answered at first, then stopped answering during the run"),
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

// The unit's trace shows it well into an upload: some records sent after the command.
bool uploading(const QString& trace) {
    const QByteArray sent = sentIn(trace);
    const int command = sent.indexOf("UF\r");
    return command >= 0 && sent.mid(command).count(':') >= 5;
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
    const QString trace = dir.filePath("trace");
    run.start(VXCONF_CLI, {"-p", "1-2", "--yes", "--trace", trace, "upload", hex});
    ASSERT_TRUE(run.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return uploading(trace + ".COM2"); }));
    units[1]->stop();  // the adapter is pulled
    ASSERT_TRUE(run.waitForFinished(60000));
    const std::string err = run.readAllStandardError().toStdString();
    EXPECT_EQ(run.exitCode(), kExitDevice) << err;
    EXPECT_NE(err.find("COM1: serial 601: ok"), std::string::npos) << err;
    EXPECT_NE(err.find("2 units: 1 ok, 1 failed"), std::string::npos) << err;
    EXPECT_NE(err.find("COM2: serial 602: error"), std::string::npos) << err;
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
    ASSERT_TRUE(
        waitUntil([&] { return uploading(trace + ".COM1") && uploading(trace + ".COM2"); }));
    ::kill(static_cast<pid_t>(run.processId()), SIGINT);
    ASSERT_TRUE(run.waitForFinished(30000));
    const std::string err = run.readAllStandardError().toStdString();
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 130) << err;
    EXPECT_NE(err.find("2 units: "), std::string::npos) << err;
    for (unsigned k = 1; k <= 2; ++k) {
        SCOPED_TRACE(k);
        const QByteArray sent = sentIn(trace + ".COM" + QString::number(k));
        EXPECT_TRUE(sent.contains("UF\r")) << "the upload had begun";
        EXPECT_TRUE(sent.endsWith("\r\x1b")) << "the abort sequence ends what the unit was sent";
        // Not half-way through a program: the unit answers at its prompt.
        EXPECT_EQ(readUnit(k).value("serialNumber").toInt(), int(500 + k));
    }
}

// Runs a shell command line with VXCONF_CLI as "$CLI" in folder, for what QProcess cannot
// pass: pipes, process substitution, file names that are not UTF-8.
Result shell(const QProcessEnvironment& base, const QString& folder, const QString& script) {
    QProcessEnvironment env = base;
    env.insert("CLI", VXCONF_CLI);
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder);
    process.start("/bin/bash", {"-c", script});
    Result result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "did not finish: " << script.toStdString();
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

// The processes whose parent is pid.
std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> children;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t child = entry.toInt(&number);
        const QByteArray stat = fileBytes("/proc/" + entry + "/stat");
        const int close = stat.lastIndexOf(')');
        if (number && close > 0 && stat.mid(close + 2).split(' ').value(1).toInt() == pid) {
            children.push_back(child);
        }
    }
    return children;
}

// A path is a path: taken from the current folder, whatever bytes it holds, opened and locked
// under its real name; the same device twice is one unit, and names that would share a trace
// or a lock file do not.
TEST_F(GangTest, DevicePathsLeadToTheUnitTheyNameAndAreShownSafely) {
    addUnit(701);
    addUnit(702);
    QTemporaryDir work;
    const QString second = QFileInfo(units[1]->devicePath()).fileName();
    // pts/N here leads to unit 1, while /dev/pts/N is unit 2.
    ASSERT_TRUE(QDir(work.path()).mkpath("pts"));
    ASSERT_TRUE(QFile::link(units[0]->devicePath(), work.filePath("pts/" + second)));
    ASSERT_TRUE(QFile::link(units[1]->devicePath(), work.filePath("u5")));
    ASSERT_TRUE(QDir(work.path()).mkpath("a"));
    ASSERT_TRUE(QFile::link(units[0]->devicePath(), work.filePath("a_b")));
    ASSERT_TRUE(QFile::link(units[1]->devicePath(), work.filePath("a/b")));
    const Result relative = shell(environment(), work.path(),
                                  "\"$CLI\" --device pts/" + second +
                                      " read --json && "
                                      "\"$CLI\" --device u5 read --json");
    EXPECT_EQ(relative.code, kExitOk) << relative.err;
    EXPECT_NE(relative.out.find("\"serialNumber\": 701"), std::string::npos) << relative.out;
    EXPECT_NE(relative.out.find("\"serialNumber\": 702"), std::string::npos) << relative.out;

    // A name that is not UTF-8 and one that would set the terminal's title (u5 is the
    // second's unit again); the names go before the folder is cleaned up, which cannot.
    const Result odd =
        shell(environment(), work.path(),
              "odd=$(printf 'x\\377'); esc=$(printf 'e\\033]0;owned\\007');"
              "ln -s pts/" +
                  second +
                  " \"$odd\"; ln -s u5 \"$esc\";"
                  "\"$CLI\" --device \"$odd\" read >/dev/null; single=$?;"
                  "\"$CLI\" --device \"$odd\" --device \"$esc\" --device u5 read;"
                  "several=$?; rm \"$odd\" \"$esc\"; exit $((single * 10 + several))");
    EXPECT_EQ(odd.code, kExitOk) << odd.err;
    EXPECT_NE(odd.err.find("2 units: 2 ok"), std::string::npos) << odd.err;
    EXPECT_EQ(odd.err.find('\x1b'), std::string::npos) << "no escape reaches the terminal";
    EXPECT_EQ(odd.err.find('\xff'), std::string::npos);
    EXPECT_NE(odd.err.find("e\\x1b]0;owned\\x07: serial 702: ok"), std::string::npos) << odd.err;
    EXPECT_NE(odd.err.find("x\\xff: serial 701: ok"), std::string::npos) << odd.err;

    // a_b and a/b would share a lock file and a trace file.
    const Result paths = cli({"--device", work.filePath("a_b"), "--device", work.filePath("a/b"),
                              "--trace", work.filePath("t"), "read"});
    EXPECT_EQ(paths.code, kExitOk) << paths.err;
    const QStringList traces = QDir(work.path()).entryList({"t.*"});
    ASSERT_EQ(traces.size(), 2) << traces.join(' ').toStdString();
    EXPECT_NE(fileBytes(work.filePath(traces[0])), fileBytes(work.filePath(traces[1])));
}

// Two units that report one serial number: the first takes the plan's row, the second is sent
// nothing, and the run says which two they were.
TEST_F(GangTest, ASerialNumberSeenTwiceIsRefusedBeforeAnythingIsSent) {
    addUnit(801);
    addUnit(801);
    QFile plan(dir.filePath("plan.csv"));
    ASSERT_TRUE(plan.open(QIODevice::WriteOnly));
    plan.write("serialNumber,mode2.address\n801,7\n");
    plan.close();
    const QString trace = dir.filePath("t");
    const Result run = cli({"-p", "1-2", "--plan", plan.fileName(), "--trace", trace, "set"});
    EXPECT_EQ(run.code, kExitDevice) << run.err;
    EXPECT_NE(run.err.find("2 units: 1 ok, 1 failed"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Serial number 801 was reported by COM"), std::string::npos) << run.err;
    EXPECT_EQ(sentIn(trace + ".COM1").count("\x05L") + sentIn(trace + ".COM2").count("\x05L"), 1)
        << "one unit was stored";
}

// What comes through a pipe is read once, by the run, and every unit gets the same bytes.
TEST_F(GangTest, PipedFilesAndPlansReachEveryUnit) {
    addUnit(901);
    addUnit(902);
    const QString file = oddParityFile();
    const Result run = shell(environment(), dir.path(),
                             "cat '" + file +
                                 "' | \"$CLI\" -p 1,2 --yes --plan <(printf "
                                 "'\\357\\273\\277serialNumber,mode2.address\\r\\n901,21\\r\\n"
                                 "902,22\\r\\n') load /dev/stdin");
    EXPECT_EQ(run.code, kExitOk) << run.err;
    for (unsigned k = 1; k <= 2; ++k) {
        const QJsonObject unit = readUnit(k);
        EXPECT_EQ(unit.value("port2").toObject().value("parity").toString(), "odd");
        EXPECT_EQ(unit.value("mode2").toObject().value("address").toInt(), int(20 + k));
    }
}

// A record or a trace the disk will not take is a failed unit, and the run says what was lost.
TEST_F(GangTest, RecordsAndTracesADiskCannotTakeFailTheRun) {
    addUnit(1001);
    addUnit(1002);
    const SmallDisk disk(dir.path().toStdString(), "size=64k");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    const QString full = QString::fromStdString(disk.path);
    QFile filler(full + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(512, 'f')) == 512) {
    }
    filler.close();
    const Result run =
        cli({"-p", "1-2", "--log", full + "/units.csv", "--trace", full + "/t", "read"});
    EXPECT_EQ(run.code, kExitFile) << run.err;
    EXPECT_NE(run.err.find("2 units: 0 ok, 2 failed"), std::string::npos) << run.err;
    for (const char* unit : {"\nCOM1: serial 1001: error", "\nCOM2: serial 1002: error"}) {
        const std::string err = "\n" + run.err;
        const std::size_t at = err.find(unit);
        ASSERT_NE(at, std::string::npos) << run.err;
        const std::string line = err.substr(at + 1, err.find('\n', at + 1) - at - 1);
        EXPECT_NE(line.find("Unable to append to the record file: No space left on device"),
                  std::string::npos)
            << line;
        EXPECT_NE(line.find(" lines dropped (No space left on device)"), std::string::npos) << line;
    }
}

// Nobody left to read the output: the upload is aborted through the machine's own Abort, and
// the exit status says a write failed.
TEST_F(GangTest, AClosedOutputPipeAbortsTheUpload) {
    addUnit(1101, {}, true);
    const QString hex = hexFile(dir.filePath("small.hex"), 60);
    const QString trace = dir.filePath("t");
    const Result run = shell(environment(), dir.path(),
                             "\"$CLI\" -p 1 --yes --trace t upload small.hex 2>&1 | head -n 2;"
                             "exit ${PIPESTATUS[0]}");
    EXPECT_EQ(run.code, kExitFile) << run.out;
    EXPECT_TRUE(sentIn(trace).endsWith("\r\x1b")) << "the abort ends what the unit was sent";
    EXPECT_EQ(readUnit(1).value("serialNumber").toInt(), 1101) << "at its prompt";
}

// A unit that dies is an error with its own record row; a run that dies leaves no unit
// unsupervised: each aborts its transfer through the machine's own Abort.
TEST_F(GangTest, AUnitOrARunKilledMidUploadLeavesEveryUnitAccountedFor) {
    for (unsigned serial = 1201; serial <= 1204; ++serial) {
        addUnit(serial, {}, true);
    }
    const QString hex = hexFile(dir.filePath("small.hex"), 60);
    const QString trace = dir.filePath("t");
    const QString record = dir.filePath("units.csv");
    QProcess run;
    run.setProcessEnvironment(environment());
    run.start(VXCONF_CLI, {"-p", "1-2", "--yes", "--log", record, "--trace", trace, "upload", hex});
    ASSERT_TRUE(run.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return uploading(trace + ".COM2"); }));
    // The units are the run's youngest descendants (they may come from a launcher of its own).
    std::vector<pid_t> unitProcesses;
    std::vector<pid_t> family = childrenOf(static_cast<pid_t>(run.processId()));
    while (!family.empty()) {
        const pid_t member = family.back();
        family.pop_back();
        const std::vector<pid_t> children = childrenOf(member);
        if (children.empty()) {
            unitProcesses.push_back(member);
        }
        family.insert(family.end(), children.begin(), children.end());
    }
    ASSERT_EQ(unitProcesses.size(), 2u);
    ASSERT_EQ(::kill(unitProcesses.back(), SIGKILL), 0);
    ASSERT_TRUE(run.waitForFinished(60000));
    const std::string err = run.readAllStandardError().toStdString();
    EXPECT_EQ(run.exitCode(), kExitDevice) << err;
    EXPECT_NE(err.find("ended on signal 9"), std::string::npos) << err;
    const QByteArray rows = fileBytes(record);
    EXPECT_EQ(rows.count("\n20"), 2) << rows.toStdString();
    EXPECT_TRUE(rows.contains("ended on signal 9")) << rows.toStdString();

    QProcess killed;
    const QString second = dir.filePath("u");
    killed.setProcessEnvironment(environment());
    killed.start(VXCONF_CLI, {"-p", "3-4", "--yes", "--trace", second, "upload", hex});
    ASSERT_TRUE(killed.waitForStarted());
    ASSERT_TRUE(
        waitUntil([&] { return uploading(second + ".COM3") && uploading(second + ".COM4"); }));
    ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(10000));
    for (unsigned k = 3; k <= 4; ++k) {
        SCOPED_TRACE(k);
        const QString unitTrace = second + ".COM" + QString::number(k);
        EXPECT_TRUE(waitUntil([&] { return sentIn(unitTrace).endsWith("\r\x1b"); }))
            << "the unit aborted on its own";
        EXPECT_TRUE(waitUntil([&] { return fileBytes(unitTrace).contains("close COM"); }));
        EXPECT_EQ(readUnit(k).value("serialNumber").toInt(), int(1200 + k));
    }
}

// A station over a shift: a contact that bounces starts nothing, a re-plug while its unit
// runs is no second unit (and no false "held by another program"), and a unit that comes
// back is provisioned again and said to be.
TEST_F(GangTest, AStationIgnoresBouncesAndRePlugsAndNotesAUnitProvisionedAgain) {
    addUnit(1301);
    addUnit(1302, {}, true);
    addUnit(1302);  // the same unit, later, on another adapter
    const QString hex = hexFile(dir.filePath("small.hex"), 40);
    QTemporaryDir watched;
    QProcess station;
    station.setProcessEnvironment(environment());
    const QString trace = dir.filePath("t");
    station.start(VXCONF_CLI, {"--yes", "--trace", trace, "--watch-dir", watched.path(), "watch",
                               "upload", hex});
    ASSERT_TRUE(station.waitForStarted());
    QByteArray err;
    auto waitFor = [&](const QByteArray& text) {
        return waitUntil([&] {
            err += station.readAllStandardError();
            return err.contains(text);
        });
    };
    ASSERT_TRUE(waitFor("Waiting for serial devices")) << err.toStdString();
    // Unit 1 shows up for a tenth of a second; unit 2 stays, and is uploaded.
    ASSERT_TRUE(QFile::link(units[0]->devicePath(), watched.filePath("bounce")));
    QTest::qWait(100);
    ASSERT_TRUE(QFile::remove(watched.filePath("bounce")));
    const QString second = watched.filePath("second");
    ASSERT_TRUE(QFile::link(units[1]->devicePath(), second));
    // Each unit's trace is named after its device: FILE.tmp_..._second.
    const auto secondTrace = [&] {
        const QStringList found = QDir(dir.path()).entryList({"t.*_second"});
        return found.isEmpty() ? QString() : dir.filePath(found.front());
    };
    ASSERT_TRUE(waitUntil([&] { return !secondTrace().isEmpty() && uploading(secondTrace()); }))
        << err.toStdString();
    // Pulled and put back while it uploads.
    ASSERT_TRUE(QFile::remove(second));
    ASSERT_TRUE(QFile::link(units[1]->devicePath(), second));
    ASSERT_TRUE(waitFor("serial 1302: ok")) << err.toStdString();
    // Back on another adapter.
    ASSERT_TRUE(QFile::link(units[2]->devicePath(), watched.filePath("third")));
    ASSERT_TRUE(waitFor("(provisioned again)")) << err.toStdString();
    ::kill(static_cast<pid_t>(station.processId()), SIGINT);
    ASSERT_TRUE(station.waitForFinished(30000));
    err += station.readAllStandardError();
    EXPECT_EQ(station.exitCode(), kExitOk) << err.toStdString();
    EXPECT_FALSE(err.contains("1301")) << "the bounce started nothing";
    EXPECT_FALSE(err.contains("held by another program")) << err.toStdString();
    EXPECT_TRUE(err.contains("2 units: 2 ok, 0 failed, yield 100.0%\n")) << err.toStdString();
    EXPECT_TRUE(err.contains("third: serial 1302: provisioned again\n")) << err.toStdString();
}

// A job from making to its second run: each unit gets the file, the job's value and its own,
// the history holds what was sent, a unit that comes back is refused, and a file changed
// since the job was made stops the run before any unit is touched.
TEST_F(GangTest, AJobProvisionsEachUnitOnceAndRefusesAChangedFile) {
    addUnit(301);
    addUnit(302);
    const QString file = oddParityFile();
    const QString plan = writePlan("serialNumber,mode2.address\n301,21\n302,22\n");
    const QString job = dir.filePath("line.vxjob");
    const Result made = cli({"job", "new", job, "--config", file, "--plan", plan, "--set",
                             "port1.parity=even", "--unique", "mode2.address", "--name", "Line 3"});
    ASSERT_EQ(made.code, kExitOk) << made.err;

    const Result run = cli({"--job", job, "-p", "1,2", "--operator", "anna", "--json"});
    ASSERT_EQ(run.code, kExitOk) << run.err;
    for (unsigned k = 1; k <= 2; ++k) {
        const QJsonObject unit = readUnit(k);
        EXPECT_EQ(unit.value("port2").toObject().value("parity").toString(), "odd");
        EXPECT_EQ(unit.value("port1").toObject().value("parity").toString(), "even");
        EXPECT_EQ(unit.value("mode2").toObject().value("address").toInt(), int(20 + k));
    }
    const QJsonObject first =
        QJsonDocument::fromJson(QByteArray::fromStdString(run.out.substr(0, run.out.find('\n'))))
            .object();
    EXPECT_EQ(first.value("job").toString(), "Line 3");
    EXPECT_EQ(first.value("operator").toString(), "anna");
    EXPECT_EQ(first.value("jobSha256").toString().size(), 64);
    EXPECT_TRUE(first.value("sent").toObject().contains("mode2.address"));

    const Result story = cli({"history", "302", "--json"});
    ASSERT_EQ(story.code, kExitOk) << story.err;
    // Its story: the reads above, and the job's load.
    QJsonObject kept;
    for (const QByteArray& line : QByteArray::fromStdString(story.out).split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        kept = object.value("command").toString() == "load" ? object : kept;
    }
    EXPECT_EQ(kept.value("sent").toObject().value("mode2.address").toString(), "22");
    EXPECT_EQ(kept.value("readBack").toObject().value("port2.parity").toString(), "odd");
    EXPECT_EQ(kept.value("operator").toString(), "anna");

    const Result again = cli({"--job", job, "-p", "2"});
    EXPECT_EQ(again.code, kExitProvisioned) << again.err;
    EXPECT_NE(again.err.find("Serial number 302 was provisioned by this job already"),
              std::string::npos)
        << again.err;
    EXPECT_EQ(cli({"--job", job, "-p", "2", "--again"}).code, kExitOk);

    writePlan("303,23\n", QIODevice::Append);
    const QString trace = dir.filePath("trace");
    const Result changed = cli({"--job", job, "-p", "1", "--again", "--trace", trace});
    EXPECT_EQ(changed.code, kExitFile);
    EXPECT_NE(changed.err.find("plan.csv\" has changed since the job was made"), std::string::npos)
        << changed.err;
    EXPECT_FALSE(QFileInfo::exists(trace + ".COM1")) << "no unit was contacted";
}

}  // namespace
