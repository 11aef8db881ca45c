#pragma once
// Test media made at test time with GStreamer encoders: small files of known
// content (tones, clicks, test-card video) and broken files.

#include <cstdint>
#include <string>
#include <vector>

namespace veltrano::test {

enum class AudioKind { Mp3, OggVorbis, Flac, Wav, M4aAac };

// Interleaved float samples in [-1, 1].
struct Pcm {
    int rate = 48000;
    int channels = 2;
    std::vector<float> samples;
    double seconds() const { return channels ? double(samples.size()) / channels / rate : 0; }
};

Pcm Tone(double seconds, int rate = 48000, int channels = 2, double frequency = 440.0, double amplitude = 0.5);
Pcm Silence(double seconds, int rate = 48000, int channels = 2);
// Silence with one full-scale single-sample click (both channels) at each time.
Pcm Clicks(double seconds, const std::vector<double>& clickTimes, int rate = 48000, int channels = 2);

// Encodes pcm into a file of the given kind. Returns false and fills error on failure.
bool MakeAudio(const std::string& path, AudioKind kind, const Pcm& pcm, std::string* error = nullptr);
// An MP3 made with the given encoder settings ("target=quality quality=4"
// for VBR), at the PCM's own rate and channel count.
bool MakeMp3With(const std::string& path, const Pcm& pcm, const std::string& encoderSettings,
                 std::string* error = nullptr);
bool MakeToneFile(const std::string& path, AudioKind kind, double seconds, int rate = 48000, int channels = 2,
                  double frequency = 440.0, std::string* error = nullptr);

struct VideoSpec {
    double seconds = 2.0;
    int width = 320;
    int height = 240;
    int fps = 25;
    bool withAudio = true;
    // Sound of the video; a tone of 'seconds' at 48 kHz stereo when empty.
    Pcm audio;
    // "mp4" (H.264 + AAC) or "mkv" (H.264 + Vorbis).
    std::string container = "mp4";
};
bool MakeVideo(const std::string& path, const VideoSpec& spec, std::string* error = nullptr);

// One sound stream of a file with several: a tone of its own, and what the
// file says of it.
struct ToneStream {
    double frequency = 440.0;
    int rate = 48000;
    int channels = 2;
    std::string language;  // ISO 639-2, or empty
    std::string title;     // letters only, or empty
};
// A file of 'seconds' (a multiple of 10 ms) with the sound streams in order,
// after a test-card video stream when asked: "mkv" (Vorbis) or "mp4" (AAC).
bool MakeSoundStreams(const std::string& path, const std::string& container, double seconds,
                      const std::vector<ToneStream>& streams, bool withVideo, std::string* error = nullptr);

bool MakeZeroByteFile(const std::string& path);
bool MakeTextFile(const std::string& path, const std::string& text = "This is not a media file.\n");
// Copies the first 'keepBytes' of src into dst.
bool MakeTruncatedCopy(const std::string& src, const std::string& dst, long keepBytes);

// An MP3 as common encoders write it: an ID3v2 tag, then a LAME-style Info
// frame stating the encoder delay and padding, then the frames.
// The encoder name goes into the tag: GStreamer's parser applies the delay
// itself for "LAME" tags, not for others (such as "Lavc").
bool MakeGaplessMp3(const std::string& path, const Pcm& pcm, std::string* error = nullptr,
                    const std::string& encoderName = "LAME3.100");
// The delay lamemp3enc puts in front of the sound, in samples.
inline constexpr int kLameEncoderDelay = 576;

// Rewrites the edit list of the sound track of an MP4/M4A made here so that it
// states the AAC encoder's priming and the sound's length, as most muxers do
// (GStreamer's mp4mux writes an edit list that starts at 0).
bool StateAacPriming(const std::string& path, int primingFrames, std::int64_t contentFrames,
                     std::string* error = nullptr);
// The priming avenc_aac puts in front of the sound, in samples.
inline constexpr int kAacEncoderPriming = 1024;

// Runs a gst-launch description (ending in a filesink) to its end.
bool MakeWithPipeline(const std::string& description, std::string* error = nullptr);

// Extension used for a kind (".mp3", ".ogg", ...).
const char* ExtensionOf(AudioKind kind);

// Initialises GStreamer for the test process (idempotent).
void EnsureGstInitialized();

}  // namespace veltrano::test
