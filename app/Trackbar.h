#pragma once
// The trackbar's 600 steps over the whole length of the media.

#include "core/MediaTime.h"

namespace veltrano {

// The media time a released thumb seeks to: length x step x (1/600), in
// floating point, truncated.
MediaTime TrackbarTarget(MediaTime length, int step);

// The step showing a position: position / length x 600, truncated; 0 while
// the length is unknown.
int TrackbarStepOf(MediaTime position, MediaTime length);

}  // namespace veltrano
