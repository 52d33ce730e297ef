#pragma once
// Line-21 closed captions as a broadcaster sends them: EIA-608 byte pairs
// with odd parity, and the sampled scan line that carries one pair.

#include <cstdint>
#include <string>
#include <vector>

uint8_t WithOddParity(uint8_t byte);
bool HasOddParity(uint8_t byte);

// The byte pairs of one pop-on caption on channel 1: load, clear the hidden
// memory, one preamble and the text per line (the last line on row 15),
// then end-of-caption, which shows it. Control pairs are sent twice.
std::vector<uint8_t> PopOnCaption(const std::vector<std::string>& lines);

// Null pairs: nothing to say in this field.
constexpr uint8_t kNullByte = 0x80;

// The waveform of line 21 at rate samples per second: clock run-in, start
// bits and the 16 data bits, in 8-bit levels.
void SynthesizeLine21(uint8_t first, uint8_t second, uint8_t* samples, int count, int rate);
// The pair carried by a sampled line 21; -1 when the line holds no data.
int SliceLine21(const uint8_t* samples, int count, int rate, uint8_t pair[2]);

constexpr int kVbiSampleRate = 13500000;
constexpr int kVbiLineSamples = 858;  // one whole line at that rate
