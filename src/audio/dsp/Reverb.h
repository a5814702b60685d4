#pragma once

#include "audio/dsp/DelayLine.h"

#include <array>
#include <cstddef>
#include <vector>

namespace reelbox::dsp {

enum class ReverbPreset { smallRoom, mediumRoom, largeRoom, hall, largeHall, plate, cathedral };

// What makes a room.
struct ReverbPresetParameters {
    double rt60Seconds;     // decay time to -60 dB at mid frequencies (1 kHz)
    double preDelaySeconds; // silence before the first reverberated sound
    double shortestLineSeconds;
    double longestLineSeconds; // the delay lines spread geometrically between the two
    double highFrequencyRatio; // decay time at 8 kHz / decay time at 1 kHz
    double diffusion;          // gain of the input allpasses (density of the onset)
};

ReverbPresetParameters reverbPresetParameters(ReverbPreset preset);

// Stereo algorithmic reverb, wet only (nothing of the dry signal comes out).
//
//   in L/R -> pre-delay -> 4 allpass diffusers per side -> feedback delay network -> out L/R
//
// The network has eight delay lines (prime lengths, spread geometrically over the preset's
// range) fed back through an 8 x 8 Hadamard matrix scaled by 1/sqrt(8), which is orthogonal and
// so loses no energy: all decay comes from the per-line filters. Each line has a one-pole
// low-pass a / (1 - b z^-1) whose gain at 1 kHz is 10^(-3 m / (RT60 fs)) for its
// length m, so every line loses 60 dB per RT60 at mid frequencies and the decay time does
// not depend on which lines a sound travels; its gain at 8 kHz matches a decay time of
// highFrequencyRatio x RT60, so highs die out sooner (little in the plate, which is bright)
// and lows ring a little longer, as in a real room.
// Left and right are fed into the lines with different sign patterns and read out through
// two orthogonal sign patterns, which decorrelates the two tails. The diffused input is also
// passed straight out at the level of one trip round a line, so the reverb starts right at
// the pre-delay instead of after the shortest line.
//
// Level: a centred unit impulse gives about -6 dB of energy in each output at mid
// frequencies, whatever the room, so a sustained sound returns about the same power from
// every room and switching rooms does not jump the mix. Samples are single precision: the loop
// gains stay well below 1, so float rounding stays far under the decay.
class Reverb {
public:
    static constexpr int lineCount = 8;
    static constexpr int diffuserCount = 4;

    Reverb(ReverbPreset preset, double sampleRate);

    ReverbPreset preset() const { return m_preset; }
    double rt60Seconds() const { return m_parameters.rt60Seconds; }
    std::size_t preDelayFrames() const { return m_preDelayFrames; }

    // Silence in every line.
    void reset();

    // Renders n frames. Consecutive calls continue one stream; the outputs may be the inputs.
    void process(const float* inL, const float* inR, float* outL, float* outR, std::size_t n);

private:
    void processBlock(const float* inL, const float* inR, float* outL, float* outR, std::size_t n);

    ReverbPreset m_preset;
    ReverbPresetParameters m_parameters;

    // Frames per block: at most the shortest delay anywhere, so that within a block nothing
    // reads what the same block writes and each stage can run over the block as a whole.
    std::size_t m_block;

    std::size_t m_preDelayFrames;
    DelayLine m_preDelayL, m_preDelayR;

    std::array<DelayLine, 2 * diffuserCount> m_diffusers; // left ones, then right ones
    std::array<float, 2 * diffuserCount> m_diffuserGains;

    std::array<DelayLine, lineCount> m_lines;
    std::array<float, lineCount> m_dampInput;    // a
    std::array<float, lineCount> m_dampFeedback; // b
    std::array<float, lineCount> m_dampState;
    std::array<float, lineCount> m_inputL, m_inputR;   // injection, sign x 1/sqrt(8)
    std::array<float, lineCount> m_outputL, m_outputR; // taps, sign x level
    float m_earlyGain;

    // Scratch for one block: the diffused input per side and the lines' filtered outputs.
    std::vector<float> m_diffusedL, m_diffusedR;
    std::vector<float> m_lineOutputs; // lineCount rows of m_block
};

} // namespace reelbox::dsp
