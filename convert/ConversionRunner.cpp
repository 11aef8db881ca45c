#include "convert/ConversionRunner.h"

namespace veltrano {

ConversionRunner::ConversionRunner(IMessageBoxes& boxes, QObject* parent) : QObject(parent), boxes_(boxes) {}

ConversionRunner::~ConversionRunner() = default;

ConversionRunner::Outcome ConversionRunner::Start(const ConversionSource& source, const std::string& outputPath,
                                                  const OutputWaveFormat& format) {
    ConversionHost host;
    host.boxes = &boxes_;
    host.notifyTarget = this;
    host.errorText = errorText_;
    host.errorTextCapacity = sizeof errorText_;
    host.onRunning = [this] { outcome_ = Outcome::Running; };
    engine_ = std::make_unique<ConversionEngine>(std::move(host));
    engine_->SetSource(source);
    engine_->SetOutput(outputPath, format);
    outcome_ = Outcome::NotStarted;
    failureText_.clear();
    engine_->CreateTimeline();
    engine_->ConnectRenderEngine(engine_->job.pTimeline);
    if (outcome_ != Outcome::Running) engine_->ReleaseAfterFailure();
    return outcome_;
}

void ConversionRunner::Stop() {
    if (outcome_ != Outcome::Running) return;
    engine_->StopAndRelease();
    // A stopped file is a result only once it has replaced the output.
    if (engine_->OutputCommitted()) {
        outcome_ = Outcome::Stopped;
    } else {
        failureText_ = engine_->CommitFailureText();
        outcome_ = Outcome::Failed;
    }
    emit ended();
}

bool ConversionRunner::event(QEvent* e) {
    if (static_cast<int>(e->type()) == kGraphNotifyEventType) {
        OnGraphNotify();
        return true;
    }
    return QObject::event(e);
}

void ConversionRunner::OnGraphNotify() {
    GraphEvent event;
    while (outcome_ == Outcome::Running && engine_->job.pEvent && engine_->job.pEvent->GetEvent(event, 0).succeeded()) {
        const long code = event.code;
        const std::string text = event.text;
        engine_->job.pEvent->FreeEventParams(event);
        if (code == EC_COMPLETE) {
            engine_->StopAndRelease();
            outcome_ = Outcome::Done;
            emit ended();
        } else if (code == EC_ERRORABORT) {
            engine_->ReleaseAfterFailure();
            failureText_ = text;
            outcome_ = Outcome::Failed;
            emit ended();
        }
    }
}

}  // namespace veltrano
