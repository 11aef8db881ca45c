// veltrano-convert: the conversion of the dialog, for scripts and batch work.
// The same engine, checks and texts; boxes become lines on the error stream.

#include "core/WaveFormat.h"
#include "cli/BatchConverter.h"
#include "cli/BatchPlan.h"
#include "cli/CommandLine.h"
#include "cli/ConsoleReport.h"
#include "engine/ConvertChecks.h"
#include "media/MediaProbe.h"
#include "media/MediaSystem.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace veltrano;

namespace {

int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_stopRequested = 0;

void OnInterrupt(int) {
    g_stopRequested = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

void InstallInterruptHandler() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    struct sigaction sa {};
    sa.sa_handler = &OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    // A parent may have left them blocked; Ctrl+C must reach us.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

int Refuse(int status, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kConvertProgramName, text.c_str());
    return status;
}

int Probe(const std::string& input) {
    MediaProbe probe;
    ProbeStep step = ProbeStep::Render;
    if (Result r = ProbeMedia(input, probe, &step); r.failed()) {
        if (step == ProbeStep::Render)
            Refuse(0, "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt. (" +
                          r.text() + ")");
        return Refuse(kExitInputUnusable, "Can not get the duration of the clip!");
    }
    std::fputs(ProbeReportText(probe.stopPosition).c_str(), stdout);
    return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedCommandLine parsed = ParseConvertArguments(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kConvertProgramName, parsed.error.c_str(),
                     kConvertProgramName);
        return kExitBadArguments;
    }
    const ConvertOptions& opt = parsed.options;
    if (opt.help) {
        std::fputs(ConvertUsageText().c_str(), stdout);
        return kExitDone;
    }
    if (opt.version) {
        std::printf("%s %s\n", kConvertProgramName, VELTRANO_VERSION);
        return kExitDone;
    }
    InstallInterruptHandler();
    if (Result r = InitializeMedia(); r.failed()) return Refuse(kExitConversionFailed, r.text());
    if (opt.probe) return Probe(opt.inputs.front());

    // The format is the same for every file: a bad one is refused before any file is touched.
    if (opt.rate <= 0) return Refuse(kExitBadArguments, kRateTooSmallText);
    const OutputWaveFormat format = OutputFormatFor(opt);
    if (const auto refusal = WaveFormatRefusal(format)) return Refuse(kExitBadArguments, *refusal);
    if (!opt.outputDir.empty() && !IsFolder(opt.outputDir))
        return Refuse(kExitOutputRefused, NotAFolderText(opt.outputDir));

    ConsoleReport report(opt.quiet);
    BatchConverter batch(opt, format, report, [] { return g_stopRequested != 0; });
    QSocketNotifier onSignal(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&onSignal, &QSocketNotifier::activated, [&batch] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        batch.Interrupt();
    });
    return batch.Run();
}
