#include "app/platform/event_sound.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <chrono>
#include <cstdint>

#include "support/qt_test_app.h"

namespace ravdel {
namespace {

std::uint32_t le(const QByteArray& b, int at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i)
    v = v << 8 | static_cast<std::uint8_t>(b[at + i]);
  return v;
}

TEST(EventSoundTest, ResourceIsTheShortMonoWave) {
  QFile file(EventSound::source().toString().mid(3));  // "qrc:/x" as the file ":/x"
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
  const QByteArray wav = file.readAll();
  ASSERT_EQ(wav.size(), 44 + 468);
  EXPECT_EQ(wav.left(4), "RIFF");
  EXPECT_EQ(le(wav, 4, 4), 36u + 468u);
  EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
  EXPECT_EQ(le(wav, 16, 4), 16u);    // PCM format block
  EXPECT_EQ(le(wav, 20, 2), 1u);     // PCM
  EXPECT_EQ(le(wav, 22, 2), 1u);     // mono
  EXPECT_EQ(le(wav, 24, 4), 8000u);  // samples per second
  EXPECT_EQ(le(wav, 28, 4), 8000u);  // bytes per second
  EXPECT_EQ(le(wav, 32, 2), 1u);     // block align
  EXPECT_EQ(le(wav, 34, 2), 8u);     // bits per sample
  EXPECT_EQ(wav.mid(36, 4), "data");
  EXPECT_EQ(le(wav, 40, 4), 468u);
  // Audible, and ending near silence so that a cut-off does not click.
  const auto sample = [&](int i) { return static_cast<std::uint8_t>(wav[44 + i]); };
  int loudest = 0;
  for (int i = 0; i < 468; ++i)
    loudest = std::max(loudest, std::abs(sample(i) - 128));
  EXPECT_GT(loudest, 60);
  EXPECT_LE(std::abs(sample(467) - 128), 8);
}

// No sound card here: play() must still return at once, again and again.
TEST(EventSoundTest, PlayNeverWaits) {
  RAVDEL_SKIP_WITH_QT_THREADS("Qt Multimedia's");
  const test::QtTestApp<QCoreApplication> app;
  {
    EventSound sound;
    // Let the sample load and the audio output come up (or fail) first.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
      sound.play();
      QCoreApplication::processEvents();
    }
    // Generous: a play that waited for a missing device would hang, not take a little longer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_TRUE(sound.playing());
  }
  // The effect hands its insides to deleteLater: let them go before the application does.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace ravdel
