// veltrano-convert: the conversion of the dialog, for scripts and batch work.
// The same engine, checks and texts; boxes become lines on the error stream.

#include "app/OutputPath.h"
#include "app/WaveFormat.h"
#include "convert/CommandLine.h"
#include "convert/ConversionRunner.h"
#include "convert/ConvertChecks.h"
#include "platform/ConsoleUiServices.h"
#include "platform/MediaProbe.h"
#include "platform/MediaSystem.h"
#include "source/Paths.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <pthread.h>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace veltrano;

namespace {

constexpr const char* kProgram = "veltrano-convert";
int g_signalPipe[2] = {-1, -1};

void OnInterrupt(int) {
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
    std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
    return status;
}

class Progress {
public:
    explicit Progress(bool quiet) : quiet_(quiet), tty_(::isatty(STDERR_FILENO) != 0) {}
    void Show(int seconds, int percent) {
        if (quiet_) return;
        std::fprintf(stderr, "%s%s (%d%%)%s", tty_ ? "\r" : "", UsedTimeText(seconds).c_str(), percent,
                     tty_ ? "" : "\n");
        std::fflush(stderr);
        shown_ = true;
    }
    void End() {
        if (!quiet_ && tty_ && shown_) std::fputc('\n', stderr);
    }

private:
    bool quiet_;
    bool tty_;
    bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    const ParsedCommandLine parsed = ParseConvertArguments(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, parsed.error.c_str(), kProgram);
        return kExitBadArguments;
    }
    const ConvertOptions& opt = parsed.options;
    if (opt.help) {
        std::fputs(ConvertUsageText().c_str(), stdout);
        return kExitDone;
    }
    if (opt.version) {
        std::printf("%s %s\n", kProgram, VELTRANO_VERSION);
        return kExitDone;
    }
    InstallInterruptHandler();
    if (Result r = InitializeMedia(); r.failed()) return Refuse(kExitConversionFailed, r.text());

    // Measuring, as opening the file in the dialog does.
    MediaProbe probe;
    ProbeStep step = ProbeStep::Render;
    if (Result r = ProbeMedia(opt.input, probe, &step); r.failed()) {
        if (step == ProbeStep::Render)
            Refuse(0, "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt. (" +
                          r.text() + ")");
        return Refuse(kExitInputUnusable, "Can not get the duration of the clip!");
    }
    if (opt.probe) {
        std::fputs(ProbeReportText(probe.stopPosition).c_str(), stdout);
        return kExitDone;
    }

    // The Convert command's checks, in its order.
    if (!FitsPathBuffer(opt.output)) return Refuse(kExitOutputRefused, kOutputPathTooLongText);
    const MediaTime start = opt.start;
    const MediaTime end = std::min(opt.end.value_or(probe.stopPosition), probe.stopPosition);
    if (!(end > start)) return Refuse(kExitBadArguments, kEndBeforeStartText);
    if (NamesSameFile(opt.output, opt.input)) return Refuse(kExitOutputRefused, kOutputIsSourceText);
    if (!probe.hasAudio) return Refuse(kExitInputUnusable, kNoSoundStreamText);
    const bool exists = FileExists(opt.output);
    if (exists && !opt.overwrite)
        return Refuse(kExitOutputRefused, ReplaceQuestionText(opt.output) + " Use -y (--overwrite) to replace it.");
    if (opt.rate <= 0) return Refuse(kExitBadArguments, kRateTooSmallText);
    const FormatRows rows = FormatRowsFor(opt.rate, opt.channels, opt.bits);
    if (const auto refusal = WaveFormatRefusal(rows.samplesPerSec, rows.channels, rows.bitsPerSample,
                                               rows.customSamplesPerSec))
        return Refuse(kExitBadArguments, *refusal);
    const OutputWaveFormat format =
        ComputeOutputWaveFormat(rows.samplesPerSec, rows.channels, rows.bitsPerSample, rows.customSamplesPerSec);
    if (const auto refusal = OutputSizeRefusal(end - start, format)) return Refuse(kExitOutputRefused, *refusal);
    if (exists) ::unlink(opt.output.c_str());

    ConsoleMessageBoxes boxes(kProgram);
    ConversionRunner runner(boxes);
    ConversionSource source;
    source.audioCount = 1;
    source.audioPath = opt.input;
    source.startTime = start;
    source.endTime = end;
    if (runner.Start(source, opt.output, format) != ConversionRunner::Outcome::Running) return kExitConversionFailed;

    Progress progress(opt.quiet);
    int seconds = 0;
    progress.Show(seconds, runner.ProgressPercent());
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] { progress.Show(++seconds, runner.ProgressPercent()); });
    ticks.start(1000);
    bool interrupted = false;
    QSocketNotifier onSignal(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&onSignal, &QSocketNotifier::activated, [&] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        interrupted = true;
        runner.Stop();
    });
    QObject::connect(&runner, &ConversionRunner::ended, &app, &QCoreApplication::quit);
    if (runner.outcome() == ConversionRunner::Outcome::Running) app.exec();
    ticks.stop();
    progress.End();

    if (runner.outcome() == ConversionRunner::Outcome::Failed)
        return Refuse(kExitConversionFailed, ConversionFailedText(runner.failureText()));
    std::printf("%s\n", DoneText(opt.output).c_str());
    return interrupted ? kExitInterrupted : kExitDone;
}
