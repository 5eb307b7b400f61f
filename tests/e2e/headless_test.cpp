// vxconf's answers that need no window: over SSH there is no display at all.

#include <gtest/gtest.h>

#include <QProcess>

#include "ProcessRun.h"

namespace {

// One run of vxconf with no display of any kind in its environment.
Result runWithoutDisplay(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(name);
    }
    return runProcess(VXCONF_GUI, args, env, 15000);
}

TEST(Headless, HelpAndVersionNeedNoDisplay) {
    const Result version = runWithoutDisplay({"--version"});
    EXPECT_EQ(version.code, 0) << version.err;
    EXPECT_EQ(version.out, "vxconf " VXCONF_VERSION "\n");

    for (const char* option : {"--help", "-h"}) {
        SCOPED_TRACE(option);
        const Result help = runWithoutDisplay({option});
        EXPECT_EQ(help.code, 0) << help.err;
        EXPECT_EQ(help.out.rfind("Usage: " VXCONF_GUI " [options]\n", 0), 0u) << help.out;
        for (const char* line :
             {"Configures a VX310 serial interface converter.\n", "  --simulate ",
              "  --sim-option <option> ", "  --trace <FILE> ", "  -v, --version "}) {
            EXPECT_NE(help.out.find(line), std::string::npos) << line;
        }
    }
}

TEST(Headless, ABadOptionIsReportedWithoutDisplay) {
    const Result bad = runWithoutDisplay({"--simulat"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.err, "vxconf: Unknown option 'simulat'.\n");
    EXPECT_TRUE(bad.out.empty());

    const Result missing = runWithoutDisplay({"--simulate", "--bogus", "-platform", "offscreen"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "vxconf: Unknown option 'bogus'.\n");
}

}  // namespace
