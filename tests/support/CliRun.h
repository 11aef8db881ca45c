#pragma once
// Runs the built veltrano-convert as a script would and collects what it said.

#include <QStringList>
#include <QString>

#include <string>

namespace veltrano::test {

struct Exit {
    int status = -1;  // -1 when the program did not exit normally
    std::string out, err;
};

// The program in the build tree (VELTRANO_BINARY_DIR).
QString Program();
// Runs it to its end (at most a minute).
Exit RunCli(const QStringList& args);

}  // namespace veltrano::test
