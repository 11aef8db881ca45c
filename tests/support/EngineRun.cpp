#include "tests/support/EngineRun.h"

#include <QEventLoop>
#include <QTimer>

namespace veltrano::test {

bool RunConversion(ConversionEngine& engine, const ConversionRequest& request, int stopAfterMs, bool onceWriting,
                   int timeoutMs) {
    using Outcome = ConversionEngine::Outcome;
    if (engine.Start(request) != Outcome::Running) return false;
    QEventLoop loop;
    QObject::connect(&engine, &ConversionEngine::ended, &loop, &QEventLoop::quit);
    QTimer stopWhenWriting;
    QObject::connect(&stopWhenWriting, &QTimer::timeout, &engine, [&] {
        if (engine.outcome() != Outcome::Running || engine.ProgressPercent() == 0) return;
        stopWhenWriting.stop();
        engine.Stop();
    });
    if (stopAfterMs >= 0 && onceWriting)
        QTimer::singleShot(stopAfterMs, &stopWhenWriting, [&] { stopWhenWriting.start(5); });
    else if (stopAfterMs >= 0)
        QTimer::singleShot(stopAfterMs, &engine, [&engine] { engine.Stop(); });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return true;
}

}  // namespace veltrano::test
