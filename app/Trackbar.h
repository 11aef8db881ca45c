#pragma once
// The trackbar's 600 steps over the whole length of the media.

#include "core/MediaTime.h"

#include <string>

namespace veltrano {

// The media time a released thumb seeks to: length x step x (1/600), in
// floating point, truncated.
MediaTime TrackbarTarget(MediaTime length, int step);

// The step showing a position: position / length x 600, truncated; 0 while
// the length is unknown.
int TrackbarStepOf(MediaTime position, MediaTime length);

// What the trackbar reads as to assistive technology: the time of a step and
// the length, "00:01:23 of 00:10:00".
std::string TrackbarPositionText(MediaTime length, int step);

}  // namespace veltrano
