#include "app/window/detection_options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace ravdel {
namespace {

QCheckBox* makeSwitch(QWidget* parent, const char* name, const QString& text, bool on) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setChecked(on);
  return box;
}

// The range is the settings file's own, so the dialog cannot give a value the file rejects.
QSpinBox* makeLevel(QWidget* parent, const char* name, const SettingKey& key, std::int32_t value) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(key.least, key.most);
  spin->setValue(value);
  return spin;
}

}  // namespace

DetectionOptionsDialog::DetectionOptionsDialog(const DetectionSettings& settings, bool monitoring,
                                               QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("DetectionOptionsDialog"));
  setWindowTitle(QStringLiteral("Detection options"));
  setModal(true);

  hotPixelMask_ =
      makeSwitch(this, "hotPixelMask", QStringLiteral("Hot-pixel mask"), settings.hotPixelMask);
  lightLeakGuard_ = makeSwitch(this, "lightLeakGuard", QStringLiteral("Light-leak guard"),
                               settings.lightLeakGuard);
  leakLevel_ = makeLevel(this, "leakLevel", setting::leakLevel, settings.leakLevel);
  clusters_ = makeSwitch(this, "clusters", QStringLiteral("Clusters"), settings.clusters);
  clusterLevel_ = makeLevel(this, "clusterLevel", setting::clusterLevel, settings.clusterLevel);

  auto* form = new QFormLayout;
  form->addRow(hotPixelMask_);
  form->addRow(lightLeakGuard_);
  form->addRow(QStringLiteral("Leak level:"), leakLevel_);
  form->addRow(clusters_);
  form->addRow(QStringLiteral("Cluster level:"), clusterLevel_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  if (monitoring) {
    auto* note = new QLabel(QStringLiteral("The options take effect at the next Run."), this);
    note->setObjectName(QStringLiteral("nextRunNote"));
    layout->addWidget(note);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

DetectionSettings DetectionOptionsDialog::settings() const {
  DetectionSettings chosen;
  chosen.hotPixelMask = hotPixelMask_->isChecked();
  chosen.lightLeakGuard = lightLeakGuard_->isChecked();
  chosen.leakLevel = leakLevel_->value();
  chosen.clusters = clusters_->isChecked();
  chosen.clusterLevel = clusterLevel_->value();
  return chosen;
}

}  // namespace ravdel
