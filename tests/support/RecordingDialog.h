#pragma once
// A stand-in for the main dialog: a plain window that records what the player
// posts to it (position ticks with the positions read at each tick, commands).

#include "core/MediaTime.h"

#include <QWidget>

#include <vector>

namespace veltrano::test {

class RecordingDialog final : public QWidget {
public:
    RecordingDialog();

    struct Tick {
        MediaTime current = 0;
        MediaTime stop = 0;
    };
    // Positions of g_pPreviewPlayer at each tick, as the dialog would read them.
    const std::vector<Tick>& ticks() const { return ticks_; }
    const std::vector<int>& commands() const { return commands_; }
    // The outcomes of openings the player told, in turn.
    const std::vector<bool>& openings() const { return openings_; }
    void clear() {
        ticks_.clear();
        commands_.clear();
        openings_.clear();
    }

protected:
    bool event(QEvent* e) override;

private:
    std::vector<Tick> ticks_;
    std::vector<int> commands_;
    std::vector<bool> openings_;
};

}  // namespace veltrano::test
