// gtest entry point for every test executable: a QApplication on the offscreen
// platform and the media framework initialised, as the program does at start.

#include "media/MediaSystem.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (veltrano::InitializeMedia().failed()) return 1;
    return RUN_ALL_TESTS();
}
