// veltrano-convert: the conversion of the dialog, for scripts and batch work.
// The same engine, checks and texts; boxes become lines on the error stream.

#include "core/WaveFormat.h"
#include "cli/BatchConverter.h"
#include "cli/BatchPlan.h"
#include "cli/CommandLine.h"
#include "cli/ConsoleReport.h"
#include "cli/ScriptOutput.h"
#include "engine/ConvertChecks.h"
#include "media/MediaProbe.h"
#include "media/MediaSystem.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

using namespace veltrano;

namespace {

int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_stopRequested = 0;

// Repeated signals (a supervisor's TERM, TERM, ... KILL) change nothing: the
// first one's stop is bounded in time, and ends every file it can.
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
    // No SA_RESTART: a call that blocks (an open waiting on a FIFO) returns
    // EINTR instead of waiting on, so the stop is seen.
    sa.sa_flags = 0;
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

int Stopped() {
    std::fputs("Stopped. Nothing was written.\n", stderr);
    return kExitInterrupted;
}

int Probe(const std::string& input) {
    if (const auto refusal = InputFileRefusal(input)) return Refuse(kExitInputUnusable, *refusal);
    MediaProbe probe;
    ProbeStep step = ProbeStep::Render;
    if (Result r = ProbeMedia(input, probe, &step); r.failed()) {
        if (g_stopRequested) return Stopped();
        return Refuse(kExitInputUnusable, input + ": " + UnmeasuredText(step, r));
    }
    std::fputs((ProbeReportText(probe.stopPosition) + SoundStreamLines(probe.soundStreams)).c_str(), stdout);
    return kExitDone;
}

// The --files-from list's text. The open may block (a FIFO with no writer
// yet); Ctrl+C ends it. Empty error and stopped false: read.
bool ReadList(const std::string& path, std::string& text, std::string& error, bool& stopped) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? std::string("standard input") : path;
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    stopped = false;
    if (fd < 0) {
        stopped = errno == EINTR && g_stopRequested;
        error = "cannot read the list " + name + ": " + std::strerror(errno);
        return false;
    }
    char block[65536];
    bool ok = true;
    for (;;) {
        // Waits for the list or for Ctrl+C, whichever comes first.
        pollfd waits[2] = {{fd, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        if (::poll(waits, g_signalPipe[0] >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
            error = "cannot read the list " + name + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        if (g_stopRequested) {
            stopped = true;
            ok = false;
            break;
        }
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n > 0) {
            text.append(block, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR && !g_stopRequested) continue;
        stopped = errno == EINTR;
        error = "cannot read the list " + name + ": " + std::strerror(errno);
        ok = false;
        break;
    }
    if (!standardInput) ::close(fd);
    return ok;
}

// A WAV is binary: it goes to a file or a pipe, never to a terminal.
std::optional<std::string> StandardOutputRefusal() {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0)
        return std::string("Cannot write standard output: ") + std::strerror(errno) + ".";
    if (::isatty(STDOUT_FILENO))
        return std::string("Standard output is a terminal; send it to a file or a pipe (-o - > out.wav).");
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    ParsedCommandLine parsed = ParseConvertArguments(args);
    const auto badArguments = [](const std::string& error) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kConvertProgramName, error.c_str(), kConvertProgramName);
        return int(kExitBadArguments);
    };
    if (!parsed.ok) return badArguments(parsed.error);
    ConvertOptions& opt = parsed.options;
    if (opt.help) {
        std::fputs(ConvertUsageText().c_str(), stdout);
        return kExitDone;
    }
    if (opt.version) {
        std::printf("%s %s\n", kConvertProgramName, VELTRANO_VERSION);
        return kExitDone;
    }
    // Before anything that may block: the list may be a FIFO.
    InstallInterruptHandler();
    if (!opt.filesFrom.empty()) {
        std::string text, error;
        bool stopped = false;
        if (!ReadList(opt.filesFrom, text, error, stopped)) return stopped ? Stopped() : badArguments(error);
        for (std::string& input : ParseFileList(text)) opt.inputs.push_back(std::move(input));
        if (const std::string refusal = InputsRefusal(opt); !refusal.empty()) return badArguments(refusal);
    }
    if (Result r = InitializeMedia(); r.failed()) return Refuse(kExitConversionFailed, r.text());
    if (opt.probe) return Probe(opt.inputs.front());

    // The format is the same for every file: a bad one is refused before any file is touched.
    if (opt.rate <= 0) return Refuse(kExitBadArguments, kRateTooSmallText);
    const OutputWaveFormat format = OutputFormatFor(opt);
    if (const auto refusal = WaveFormatRefusal(format)) return Refuse(kExitBadArguments, *refusal);
    if (!opt.outputDir.empty() && !IsFolder(opt.outputDir))
        return Refuse(kExitOutputRefused, NotAFolderText(opt.outputDir));
    if (WritesToStandardOutput(opt))
        if (const auto refusal = StandardOutputRefusal()) return Refuse(kExitOutputRefused, *refusal);
    ReportFile reportFile;
    // Opening a FIFO waits for its reader; Ctrl+C ends the wait.
    if (!opt.report.empty())
        if (const std::string error = reportFile.Open(opt.report); !error.empty())
            return g_stopRequested ? Stopped() : Refuse(kExitOutputRefused, error);

    ConsoleReport report(opt.quiet);
    BatchConverter batch(opt, format, report, [] { return g_stopRequested != 0; }, &reportFile);
    QSocketNotifier onSignal(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&onSignal, &QSocketNotifier::activated, [&batch] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        batch.Interrupt();
    });
    return batch.Run();
}
