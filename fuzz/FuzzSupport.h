#pragma once
// What the fuzz targets share: GStreamer started once with our elements, a
// private folder for the files made from inputs, and a graph run to its end.

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltrano::fuzz {

// GStreamer with our elements registered; aborts when that fails, as no
// input could then be tried.
void StartMedia();

// A file in the target's own temporary folder (removed at exit) holding
// the input, named 'name'.
std::string WriteInputFile(const std::uint8_t* data, std::size_t size, const char* name);
std::string TempPath(const char* name);

enum class RunEnd { Eos, Error };

// Brings the pipeline to PAUSED with its first data; false on an error.
bool Preroll(GstElement* pipeline);
// A flushing, exact seek of a prerolled pipeline; false when refused or failed.
bool SeekTo(GstElement* pipeline, GstClockTime position);

// Plays the pipeline until end of stream or an error, then sets it to NULL.
// A pipeline that neither ends nor fails within a generous time is a hang
// and aborts, so that the fuzzer reports the input.
RunEnd RunToEnd(GstElement* pipeline);

// Aborts with the message when 'ok' is false: an invariant of our code broke.
void Check(bool ok, const char* what);

}  // namespace veltrano::fuzz
