#pragma once
// What a raw MPEG audio file (an .mp3 as written by encoders: optional ID3v2
// tag, then frames) says about its own length: the frame count from a
// Xing/Info or VBRI header, or from a scan of the frame headers, and the
// encoder delay and padding from a LAME-style tag. Pure byte parsing, so the
// length can be exact without decoding anything.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veltrano {

struct Mp3FrameHeader {
    int version = 0;          // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int layer = 0;            // 1, 2 or 3
    int bitrateKbps = 0;
    int sampleRate = 0;
    int channels = 0;
    bool padding = false;
    bool crc = false;
    int frameBytes = 0;
    int samplesPerFrame = 0;
};

// Decodes the four header bytes at p; nothing for a header that is not a
// valid, fixed-bitrate MPEG audio header.
std::optional<Mp3FrameHeader> ParseMp3FrameHeader(const std::uint8_t* p, std::size_t available);

// Bytes of side information after the header (and check word) of a layer
// III frame of this version (1, 2 or 25) and channel count.
int Mp3SideInfoBytes(int version, int channels);

// The layer III decoder's own delay, which gapless decoders add to the
// encoder delay a LAME tag states.
inline constexpr int kMp3DecoderDelay = 529;

struct Mp3StreamInfo {
    int version = 0;  // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int layer = 0;
    int sampleRate = 0;
    int channels = 0;
    int samplesPerFrame = 0;
    std::int64_t audioFrames = 0;      // frames that decode to sound (an Info frame excluded)
    std::size_t firstFrameOffset = 0;  // the first frame (possibly the Info frame)
    bool hasInfoFrame = false;         // a Xing/Info/VBRI frame that decodes to nothing
    bool hasGaplessInfo = false;       // the encoder stated its delay and padding
    bool channelsVary = false;         // mono and stereo frames both (a joined or broken file)
    int encoderDelay = 0;              // samples, as stated
    int encoderPadding = 0;            // samples, as stated

    // Samples the decoder puts out: every audio frame in full.
    std::int64_t DecodedSamples() const { return audioFrames * samplesPerFrame; }
    // Where the encoder's first input sample lies in the decoded output.
    std::int64_t LeadingSamples() const { return hasGaplessInfo ? encoderDelay + kMp3DecoderDelay : 0; }
    // The sound itself: what the encoder was given, when it said so.
    std::int64_t ContentSamples() const {
        return hasGaplessInfo ? DecodedSamples() - encoderDelay - encoderPadding : DecodedSamples();
    }
};

// Where one frame that decodes to sound lies in the file.
struct Mp3FrameRef {
    std::uint64_t offset = 0;
    std::uint32_t bytes = 0;
};

// Analyses a whole file image (or its start when only the header matters).
// Nothing when the bytes do not start, after any ID3v2 tag, with a run of
// consistent MPEG audio frames. With 'frames', lists every audio frame in
// order (the information frame left out), so that a reader can start at any
// frame exactly. Files joined end to end count as one stream, their tags
// stepped over.
std::optional<Mp3StreamInfo> AnalyzeMp3Stream(std::span<const std::uint8_t> file,
                                              std::vector<Mp3FrameRef>* frames = nullptr);

// Reads a regular file a window at a time and analyses it, listing its frames
// when asked; nothing when it cannot be read or is not a raw MPEG audio
// stream. A long file costs no more memory than a short one, and one that
// shrinks while it is read only ends sooner.
std::optional<Mp3StreamInfo> AnalyzeMp3File(const std::string& path, std::vector<Mp3FrameRef>* frames = nullptr);

}  // namespace veltrano
