#include "app/WaveFormat.h"
#include <gtest/gtest.h>
TEST(Smoke, Builds) { EXPECT_EQ(veltrano::ComputeOutputWaveFormat(1, 0, 0, 0).nAvgBytesPerSec, 176400u); }
