#pragma once
// Drives one conversion without the dialog: builds and runs it on the
// engine, receives the graph's events on the calling thread and tells when
// the conversion has ended. The command-line converter is made of this.

#include "convert/ConversionEngine.h"

#include <QObject>

#include <string>

namespace veltrano {

class ConversionRunner : public QObject {
    Q_OBJECT

public:
    enum class Outcome { Idle, NotStarted, Running, Done, Stopped, Failed };

    explicit ConversionRunner(IMessageBoxes& boxes, QObject* parent = nullptr);
    ~ConversionRunner() override;

    // Builds the timeline and the graph and runs it. NotStarted when a build
    // step failed (its boxes have been shown).
    Outcome Start(const ConversionSource& source, const std::string& outputPath, const OutputWaveFormat& format);
    // Stops a running conversion as the Stop button does: the file is finished.
    void Stop();

    Outcome outcome() const { return outcome_; }
    const std::string& failureText() const { return failureText_; }
    ConversionEngine& engine() { return *engine_; }
    int ProgressPercent() const { return engine_ ? engine_->ProgressPercent() : 0; }

signals:
    void ended();

protected:
    bool event(QEvent* e) override;

private:
    void OnGraphNotify();

    IMessageBoxes& boxes_;
    std::unique_ptr<ConversionEngine> engine_;
    Outcome outcome_ = Outcome::Idle;
    std::string failureText_;
    char errorText_[160] = {};
};

}  // namespace veltrano
