#include "app/platform/event_sound.h"

namespace ravdel {

EventSound::EventSound() {
  effect_.setSource(source());
}

QUrl EventSound::source() {
  return QUrl(QStringLiteral("qrc:/ravdel/event_sound.wav"));
}

void EventSound::play() {
  // Restart from the beginning, as an event that comes during the sound is a new event.
  effect_.stop();
  effect_.play();
}

}  // namespace ravdel
