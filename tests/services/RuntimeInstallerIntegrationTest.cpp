// RuntimeInstaller with the real python3, venv and pip, installing a stand-in wheel offline.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <memory>

#include "services/Log.h"
#include "services/RuntimeInstaller.h"
#include "support/StandInWheel.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

class RuntimeInstallerTest : public testing::TempHome {
  protected:
    void SetUp() override {
        TempHome::SetUp();
        Log::setFile(home() / "log.txt");
        ASSERT_TRUE(testing::makeStandInWheel(wheels()));
        fs::create_directories(home() / "no-wheels");
    }
    void TearDown() override {
        Log::flush();
        TempHome::TearDown();
    }

    fs::path wheels() const { return home() / "wheels"; }
    fs::path venv() const { return home() / "share" / "Quorvel" / "runtime"; }

    RuntimeInstaller::Options options(const QStringList& pipArguments) const {
        return {.venvDir = venv(),
                .extraPipArguments = pipArguments,
                .environment = testing::isolatedPipEnvironment()};
    }
    std::unique_ptr<RuntimeInstaller> installer(const QStringList& pipArguments) const {
        return std::make_unique<RuntimeInstaller>(options(pipArguments));
    }

    struct Outcome {
        bool ok = false;
        QString python, error;
        QStringList lines;
    };
    static Outcome runInstall(RuntimeInstaller& runtime) {
        QSignalSpy finished(&runtime, &RuntimeInstaller::installFinished);
        Outcome outcome;
        QObject::connect(&runtime, &RuntimeInstaller::outputLine, [&](const QString& line) { outcome.lines << line; });
        EXPECT_TRUE(runtime.install());
        EXPECT_FALSE(runtime.install()) << "one install at a time";
        EXPECT_TRUE(finished.isEmpty()) << "the answer never comes from inside install()";
        EXPECT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 180000));
        if (finished.isEmpty()) return outcome;
        outcome.ok = finished.first().at(0).toBool();
        outcome.python = finished.first().at(1).toString();
        outcome.error = finished.first().at(2).toString();
        return outcome;
    }

    // Whether `python` can load the runtime, and why not.
    static std::pair<bool, QString> runCheck(RuntimeInstaller& runtime, const QString& python) {
        QSignalSpy checked(&runtime, &RuntimeInstaller::checked);
        runtime.check(python);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !checked.isEmpty(); }, 60000));
        if (checked.isEmpty()) return {};
        EXPECT_EQ(checked.first().at(0).toString(), python);
        return {checked.first().at(1).toBool(), checked.first().at(2).toString()};
    }
};

TEST_F(RuntimeInstallerTest, FailedInstallLeavesNothingAndASuccessfulOneImports) {
    auto runtime = installer(testing::offlinePipArguments(home() / "no-wheels"));
    const Outcome failed = runInstall(*runtime);
    EXPECT_FALSE(failed.ok);
    EXPECT_TRUE(failed.error.startsWith("pip install sherpa-onnx failed (exit 1):\n")) << failed.error.toStdString();
    EXPECT_TRUE(failed.error.contains("No matching distribution found for sherpa-onnx")) << failed.error.toStdString();
    EXPECT_TRUE(failed.lines.contains("$ python3 -m venv"));
    EXPECT_FALSE(fs::exists(venv())) << "the venv it began is gone";
    const QString python = QString::fromStdString((venv() / "bin" / "python").string());
    const auto [available, detail] = runCheck(*runtime, python);
    EXPECT_FALSE(available);
    EXPECT_TRUE(detail.startsWith(python)) << detail.toStdString();

    runtime->setOptions(options(testing::offlinePipArguments(wheels())));
    const Outcome installed = runInstall(*runtime);
    ASSERT_TRUE(installed.ok) << installed.error.toStdString();
    EXPECT_EQ(installed.python, python);
    EXPECT_TRUE(installed.lines.contains("Successfully installed sherpa-onnx-0.0.1")) << installed.lines.join('\n').toStdString();
    EXPECT_TRUE(runCheck(*runtime, python).first);
    EXPECT_EQ(QProcess::execute(python, {"-c", "import sherpa_onnx; assert sherpa_onnx.STAND_IN"}), 0);

    // A failure in an environment that was there before keeps it as it was.
    auto broken = installer({"--no-such-option"});
    const Outcome refused = runInstall(*broken);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.error.contains("no such option: --no-such-option")) << refused.error.toStdString();
    EXPECT_TRUE(runCheck(*broken, python).first);
}

TEST_F(RuntimeInstallerTest, CheckTellsWhyAModuleCannotLoadAndGoingAwayMidInstallRemovesTheVenv) {
    // A module that is there but breaks on import (a wheel for another machine) is not usable.
    writeFile(home() / "site" / "sherpa_onnx" / "__init__.py", "raise ImportError('built for another CPU')\n");
    RuntimeInstaller::Options withSite = options(testing::offlinePipArguments(wheels()));
    withSite.environment.insert("PYTHONPATH", QString::fromStdString((home() / "site").string()));
    auto runtime = std::make_unique<RuntimeInstaller>(withSite);
    EXPECT_EQ(runCheck(*runtime, "/usr/bin/python3"),
              std::pair(false, QString("ImportError: built for another CPU")));

    ASSERT_TRUE(runtime->install());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(venv() / "pyvenv.cfg"); }, 60000));
    runtime.reset();
    EXPECT_FALSE(fs::exists(venv()));
}

}  // namespace
}  // namespace quorvel
