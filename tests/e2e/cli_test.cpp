// vxconf-cli as a script runs it: the real program against vx310sim on a pseudo-terminal.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "ProcessRun.h"
#include "TestSupport.h"
#include "cli/CliSession.h"
#include "editor/BlockFields.h"
#include "sim/SimulatorProcess.h"
#include "sim/Vx310Sim.h"

namespace {

struct CliEndToEnd : public ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        link = dir.filePath("vx310");
        QString error;
        ASSERT_TRUE(sim.start({"--link", link, "--serial", "31337"}, error)) << error.toStdString();
        QFile settings(dir.filePath("vxconf.ini"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[Options]\nDownload=1\n");
    }

    // One run of the program, on the simulator unless the arguments say otherwise.
    Result cli(QStringList args, bool onDevice = true) {
        if (onDevice) {
            args = QStringList{"--device", link} + args;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path());
        return runProcess(VXCONF_CLI, args, env, 30000);
    }

    QJsonObject readJson() {
        const Result read = cli({"read", "--json"});
        EXPECT_EQ(read.code, kExitOk) << read.err;
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(read.out.c_str(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << read.out;
        return json.object();
    }

    QTemporaryDir dir;
    QString link;
    SimulatorProcess sim;
};

// A field of the JSON object by its dotted name, written back as JSON text.
std::string jsonField(const QJsonObject& root, const std::string& name) {
    const QStringList path = QString::fromStdString(name).split('.');
    QJsonValue value = root.value(path[0]);
    if (path.size() > 1) {
        value = value.toObject().value(path[1]);
    }
    if (value.isString()) {
        return jsonString(value.toString().toStdString());
    }
    return value.isDouble() ? std::to_string(value.toInt()) : "missing";
}

TEST_F(CliEndToEnd, ReadJsonHoldsEveryFieldOfTheDevicesBlock) {
    const QJsonObject json = readJson();
    Vx310Sim reference;
    EXPECT_EQ(json.value("serialNumber").toInt(), 31337);
    EXPECT_EQ(json.value("productType").toString(), "PROG");
    EXPECT_EQ(json.value("version").toString().toStdString(), versionText(reference.block));
    EXPECT_TRUE(json.value("validProgram").toBool());
    EXPECT_EQ(json.value("port1").toObject().value("interface").toString(), "RS422/485");
    for (const BlockField& field : blockFields()) {
        EXPECT_EQ(jsonField(json, field.name), fieldJson(reference.block, field)) << field.name;
    }
}

TEST_F(CliEndToEnd, SetThenReadAndSaveThenLoadRoundTrip) {
    const QJsonObject original = readJson();
    const QString file = dir.filePath("unit.vxc");
    Result save = cli({"save", file, "-d", "Line 2, \"north\""});
    ASSERT_EQ(save.code, kExitOk) << save.err;

    Result set = cli({"set", "port2.parity=none", "mode2.address=42", "mode=2"});
    ASSERT_EQ(set.code, kExitOk) << set.err;
    EXPECT_EQ(set.out,
              "Port 2 Parity: even -> none\nADE Mode: off -> 2\nMode 2 Address: 5 -> 42\n");
    const QJsonObject changed = readJson();
    EXPECT_EQ(changed.value("port2").toObject().value("parity").toString(), "none");
    EXPECT_EQ(changed.value("mode2").toObject().value("address").toInt(), 42);
    EXPECT_EQ(changed.value("mode").toString(), "2");

    Result dry = cli({"load", file, "--dry-run"});
    EXPECT_EQ(dry.code, kExitOk) << dry.err;
    EXPECT_EQ(dry.out,
              "Description: Line 2, \"north\"\nPort 2 Parity: none -> even\nADE Mode: 2 -> off\n"
              "Mode 2 Address: 42 -> 5\n");
    EXPECT_EQ(readJson(), changed) << "a dry run sends nothing";

    Result load = cli({"--yes", "load", file});
    EXPECT_EQ(load.code, kExitOk) << load.err;
    EXPECT_EQ(readJson(), original);
}

TEST_F(CliEndToEnd, UploadDownloadCompareDeleteAndStart) {
    // 48 program bytes from 0x4004 in three records.
    const QString hex = dir.filePath("prog.hex");
    QFile file(hex);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray program;
    QByteArray text;
    for (int r = 0; r < 3; ++r) {
        QByteArray record;
        const unsigned address = 0x4004 + 16 * r;
        record.append(char(16)).append(char(address >> 8)).append(char(address & 0xFF));
        record.append('\0');
        for (int i = 0; i < 16; ++i) {
            record.append(char(r * 16 + i + 1));
            program.append(char(r * 16 + i + 1));
        }
        unsigned sum = 0;
        for (const char c : record) {
            sum += static_cast<unsigned char>(c);
        }
        record.append(char((0x100 - (sum & 0xFF)) & 0xFF));
        text += ":" + record.toHex().toUpper() + "\r\n";
    }
    file.write(text + ":00000001FF\r\n");
    file.close();

    Result upload = cli({"--yes", "upload", hex});
    ASSERT_EQ(upload.code, kExitOk) << upload.err;
    EXPECT_NE(upload.err.find("bytes 100%"), std::string::npos) << upload.err;

    const QString back = dir.filePath("back.hex");
    Result download = cli({"download", back});
    ASSERT_EQ(download.code, kExitOk) << download.err;
    const QString bin = dir.filePath("back.bin");
    QProcess cat;
    cat.start("srec_cat", {back, "-Intel", "-offset", "-", "-minimum-addr", back, "-Intel", "-o",
                           bin, "-Binary"});
    ASSERT_TRUE(cat.waitForFinished(10000));
    ASSERT_EQ(cat.exitCode(), 0) << cat.readAllStandardError().toStdString();
    QFile binary(bin);
    ASSERT_TRUE(binary.open(QIODevice::ReadOnly));
    EXPECT_EQ(binary.readAll(), program);

    Result remove = cli({"delete", "--yes"});
    EXPECT_EQ(remove.code, kExitOk) << remove.err;
    EXPECT_FALSE(readJson().value("validProgram").toBool());

    Result start = cli({"start"});
    EXPECT_EQ(start.code, kExitUsage) << "the question needs --yes";
    const QString trace = dir.filePath("start.txt");
    start = cli({"start", "-y", "--trace", trace});
    EXPECT_EQ(start.code, kExitOk) << start.err;
    EXPECT_NE(start.err.find("VXCONF WILL NOW CLOSE DOWN."), std::string::npos);
    QFile traced(trace);
    ASSERT_TRUE(traced.open(QIODevice::ReadOnly));
    EXPECT_TRUE(traced.readAll().contains(" TX 52 55 0d "));
}

TEST_F(CliEndToEnd, UnstoredConfigurationIsExitCodeThreeAndRecorded) {
    SimulatorProcess stubborn;
    QString error;
    const QString path = dir.filePath("stubborn");
    ASSERT_TRUE(stubborn.start({"--link", path, "--ignore-stores", "--serial", "7"}, error));
    const QString log = dir.filePath("units.csv");
    const QString trace = dir.filePath("trace.txt");
    Result set = cli({"--device", path, "--log", log, "--trace", trace, "set", "port1.parity=odd",
                      "mode2.timeout=250"},
                     false);
    EXPECT_EQ(set.code, kExitMismatch);
    EXPECT_EQ(set.err,
              "The VX310 did not store the configuration as sent:\n"
              "Port 1 Parity: sent odd, the VX310 holds none\n"
              "Mode 2 Timeout (ms): sent 250, the VX310 holds 2000\n");
    QFile record(log);
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = record.readAll().split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "time,device,serial,version,command,file,result,message\r");
    EXPECT_TRUE(lines[1].contains(("," + path.toUtf8() + ",7,v1.04,set,,mismatch,\"The VX310")))
        << lines[1].toStdString();
    QFile traced(trace);
    ASSERT_TRUE(traced.open(QIODevice::ReadOnly));
    const QByteArray wire = traced.readAll();
    EXPECT_TRUE(wire.contains(" TX 05 4c ")) << "the store command";
    EXPECT_TRUE(wire.contains(" TX 76 31 30 34 ")) << "the configuration text";
    EXPECT_TRUE(wire.contains(" RX 3e ")) << "the prompt";
}

TEST_F(CliEndToEnd, RefusedInputGivesItsCodeAndSendsNothing) {
    const QString trace = dir.filePath("refused.txt");
    Result unknown = cli({"--trace", trace, "set", "port3.baud=9600"});
    EXPECT_EQ(unknown.code, kExitUsage);
    EXPECT_EQ(unknown.err.rfind("Unknown field \"port3.baud\". Fields: port1.baud,", 0), 0u);
    Result range = cli({"--trace", trace, "set", "mode2.leadIn=256"});
    EXPECT_EQ(range.code, kExitUsage);
    EXPECT_EQ(range.err, "\"256\" is out of range for mode2.leadIn; its values are 0 to 255\n");
    Result missing = cli({"--trace", trace, "--yes", "load", dir.filePath("none.vxc")});
    EXPECT_EQ(missing.code, kExitFile);
    EXPECT_NE(missing.err.find("Unable to open file: \""), std::string::npos);
    Result noPort = cli({"--trace", trace, "--device", dir.filePath("no-such-tty"), "read"}, false);
    EXPECT_EQ(noPort.code, kExitDevice);
    const std::string noTty = dir.filePath("no-such-tty").toStdString();
    EXPECT_EQ(noPort.err, "The selected port " + noTty +
                              " does not exist or may be already in use by another program\n\n" +
                              noTty + ": no such device.\n");
    Result usage = cli({"frobnicate"}, false);
    EXPECT_EQ(usage.code, kExitUsage);
    EXPECT_EQ(usage.err, "vxconf-cli: unknown command \"frobnicate\"\nTry 'vxconf-cli --help'.\n");

    QFile traced(trace);
    ASSERT_TRUE(traced.open(QIODevice::ReadOnly));
    const QByteArray wire = traced.readAll();
    EXPECT_FALSE(wire.contains(" TX 05 4c")) << "no store command was sent";
}

// The trace never holds up the wire: a FIFO is refused before the port is opened, and lines
// a full disk will not take are dropped, counted, and make the exit status 4 once the unit's
// work is done.
TEST_F(CliEndToEnd, ATraceThatCannotBeWrittenIsRefusedOrCountedAndExitFour) {
    const std::string fifo = dir.filePath("fifo").toStdString();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Result refused = cli({"--trace", QString::fromStdString(fifo), "read"});
    EXPECT_EQ(refused.code, kExitFile);
    EXPECT_EQ(refused.err, "Unable to write file: \"" + fifo + "\"? (not a regular file)\n");
    EXPECT_TRUE(refused.out.empty());

    const SmallDisk disk(dir.path().toStdString(), "size=64k");
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    const std::string trace = disk.path + "/trace.txt";
    {
        std::ofstream(trace) << "";
        std::ofstream filler(disk.path + "/filler", std::ios::binary);
        const std::string chunk(512, 'f');
        while (filler.write(chunk.data(), chunk.size())) {
        }
    }
    const Result full = cli({"--trace", QString::fromStdString(trace), "read"});
    EXPECT_EQ(full.code, kExitFile) << full.err;
    EXPECT_NE(full.out.find("Serial Number: 31337"), std::string::npos) << "the read was done";
    EXPECT_NE(full.err.find(" lines dropped (No space left on device)\n"), std::string::npos)
        << full.err;
}

// --json gives one unit's result as a several-unit run gives each: one object, the changes
// inside it.
TEST_F(CliEndToEnd, JsonOnOneUnitIsItsResultObject) {
    const Result set = cli({"--json", "set", "port1.parity=odd"});
    EXPECT_EQ(set.code, kExitOk) << set.err;
    QJsonParseError error;
    const QJsonObject unit = QJsonDocument::fromJson(set.out.c_str(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << set.out;
    EXPECT_EQ(unit.value("serialNumber").toInt(), 31337);
    EXPECT_EQ(unit.value("result").toString(), "ok");
    EXPECT_EQ(unit.value("output").toString(), "Port 1 Parity: none -> odd\n");
}

}  // namespace
