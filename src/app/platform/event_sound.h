#pragma once

#include <QSoundEffect>
#include <QUrl>

namespace ravdel {

// The short sound played for each event: the program's own WAV from its Qt resources.
// play() only asks for playback and returns at once; a new play cuts off one still playing.
// With no audio device Qt warns and nothing is heard, and the effect reports playing for good,
// so nobody may wait for the end of playback. Main thread only.
class EventSound {
 public:
  EventSound();
  EventSound(const EventSound&) = delete;
  EventSound& operator=(const EventSound&) = delete;

  void play();
  // Playback was asked for and has not been seen to end.
  bool playing() const { return effect_.isPlaying(); }

  static QUrl source();

 private:
  QSoundEffect effect_;
};

}  // namespace ravdel
