#include "tests/support/CliRun.h"

#include <QProcess>

namespace veltrano::test {

QString Program() { return qEnvironmentVariable("VELTRANO_BINARY_DIR") + "/veltrano-convert"; }

Exit RunCli(const QStringList& args) {
    QProcess p;
    p.start(Program(), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

}  // namespace veltrano::test
