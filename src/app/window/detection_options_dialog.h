#pragma once

#include <QDialog>

#include "monitor/settings.h"

class QCheckBox;
class QSpinBox;

namespace ravdel {

// The small modal dialog of the detection options, opened from the tray menu. It only shows
// and edits the options; the window saves and applies what OK gives. GUI thread only.
class DetectionOptionsDialog final : public QDialog {
 public:
  // `monitoring`: the options take effect at the next Run, and the dialog says so.
  DetectionOptionsDialog(const DetectionSettings& settings, bool monitoring,
                         QWidget* parent = nullptr);

  DetectionSettings settings() const;

 private:
  QCheckBox* hotPixelMask_ = nullptr;
  QCheckBox* lightLeakGuard_ = nullptr;
  QSpinBox* leakLevel_ = nullptr;
  QCheckBox* clusters_ = nullptr;
  QSpinBox* clusterLevel_ = nullptr;
};

}  // namespace ravdel
