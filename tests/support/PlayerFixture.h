#pragma once
// A player opened the way the main dialog opens one, with a recording dialog
// stand-in and recorded message boxes; torn down the way the dialog closes it.

#include "tests/support/RecordingUiServices.h"
#include "preview/PreviewPlayer.h"
#include "tests/support/MediaCache.h"
#include "tests/support/RecordingDialog.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrano::test {

class PlayerTest : public ::testing::Test {
protected:
    void TearDown() override;

    // Constructs the player, makes it current, copies the path and opens it,
    // waiting for the cueing to end; a player that fails to open is deleted again.
    bool Open(const std::string& path, bool startInFullScreen = false);
    void Close();
    PreviewPlayer& player() { return *g_pPreviewPlayer; }

    // Positions as the next tick would report them, once they settle near the
    // expected value (positions follow seeks a moment later).
    bool WaitForPosition(MediaTime expected, MediaTime tolerance, int timeoutMs = 3000);
    // Player windows that still exist, once those due for deletion have gone.
    static int PlayerWindowCount();
    static std::string FileName(const std::string& path);

    RecordingMessageBoxes boxes;
    RecordingDialog dialog;
};

}  // namespace veltrano::test
