// Writes the event sound, event_sound.wav: 468 samples (58.5 ms) of 8-bit mono PCM at 8000 Hz,
// a rising two-tone blip that decays, short enough not to smear events that come in bursts.
// Regenerate with the ravdel-make-event-sound target: ravdel-make-event-sound event_sound.wav
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 8000;
constexpr std::uint32_t kSamples = 468;

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

void putTag(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
  out.insert(out.end(), tag, tag + 4);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
    return 2;
  }
  std::vector<std::uint8_t> wav;
  putTag(wav, "RIFF");
  put32(wav, 36 + kSamples);
  putTag(wav, "WAVE");
  putTag(wav, "fmt ");
  put32(wav, 16);     // PCM format block size
  put16(wav, 1);      // PCM
  put16(wav, 1);      // mono
  put32(wav, kRate);  // samples per second
  put32(wav, kRate);  // bytes per second
  put16(wav, 1);      // block align
  put16(wav, 8);      // bits per sample
  putTag(wav, "data");
  put32(wav, kSamples);
  // First half 1000 Hz, second half 1500 Hz; the phase runs on so the step does not click.
  double phase = 0.0;
  for (std::uint32_t i = 0; i < kSamples; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double frequency = i < kSamples / 2 ? 1000.0 : 1500.0;
    phase += 2.0 * std::numbers::pi * frequency / kRate;
    const double attack = std::min(1.0, static_cast<double>(i) / 16.0);
    const double amplitude = 100.0 * attack * std::exp(-t / 0.02);
    const long sample = 128 + std::lround(amplitude * std::sin(phase));
    wav.push_back(static_cast<std::uint8_t>(sample));  // unsigned 8-bit, silence at 128
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(wav.data(), 1, wav.size(), file) == wav.size();
  if (std::fclose(file) != 0 || !ok) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
