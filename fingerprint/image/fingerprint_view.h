// The fingerprint picture of a reader control: the latest placement's image, with its
// count during an enrolment ("2/4"), as a fingerprint control shows it to the operator.
#pragma once

#include <QImage>
#include <QWidget>

#include "fingerprint/fpsdk_controls.h"

class QLabel;

namespace vantera {

class FingerprintView : public QWidget {
  Q_OBJECT

 public:
  // Follows the control's PlacementImage; the control must outlive the view.
  explicit FingerprintView(FPControl& control, QWidget* parent = nullptr);

  // The image shown (null before the first placement) and the count under it.
  const QImage& Shown() const { return shown_; }
  QLabel* PictureLabel() const { return picture_; }
  QLabel* CountLabel() const { return count_; }

  static QImage ToQImage(const GreyImage& image);

 private:
  void Show(const GreyImage& image, int done, int needed);

  QImage shown_;
  QLabel* picture_;  // children of this widget
  QLabel* count_;
};

}  // namespace vantera
