#pragma once
// A pip-installable stand-in for the speech runtime's Python package: a wheel of a module named
// sherpa_onnx, built in a test's folder, and an environment in which pip sees only what the test
// points it at (no configuration, index or wheel folder of this machine).

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <filesystem>

namespace quorvel::testing {

// Writes sherpa_onnx-0.0.1-py3-none-any.whl into `dir` (created); false when python failed.
inline bool makeStandInWheel(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    const QString script = QStringLiteral(
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1] + '/sherpa_onnx-0.0.1-py3-none-any.whl', 'w') as z:\n"
        "    z.writestr('sherpa_onnx/__init__.py', 'STAND_IN = True\\n')\n"
        "    z.writestr('sherpa_onnx-0.0.1.dist-info/METADATA',\n"
        "               'Metadata-Version: 2.1\\nName: sherpa-onnx\\nVersion: 0.0.1\\n')\n"
        "    z.writestr('sherpa_onnx-0.0.1.dist-info/WHEEL',\n"
        "               'Wheel-Version: 1.0\\nGenerator: tests\\nRoot-Is-Purelib: true\\nTag: py3-none-any\\n')\n"
        "    z.writestr('sherpa_onnx-0.0.1.dist-info/RECORD', '')\n");
    return QProcess::execute(QStringLiteral("/usr/bin/python3"),
                             {QStringLiteral("-c"), script, QString::fromStdString(dir.string())}) == 0;
}

// pip arguments that install only from `dir`.
inline QStringList offlinePipArguments(const std::filesystem::path& dir) {
    return {QStringLiteral("--no-index"), QStringLiteral("--find-links"), QString::fromStdString(dir.string())};
}

inline QProcessEnvironment isolatedPipEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys()) {
        if (name.startsWith(QLatin1String("PIP_")) || name.startsWith(QLatin1String("PYTHON"))) environment.remove(name);
    }
    environment.insert(QStringLiteral("PIP_CONFIG_FILE"), QStringLiteral("/dev/null"));
    return environment;
}

}  // namespace quorvel::testing
