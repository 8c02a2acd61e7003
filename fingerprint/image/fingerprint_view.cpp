#include "fingerprint/image/fingerprint_view.h"

#include <QLabel>
#include <QPixmap>
#include <QSizePolicy>
#include <QVBoxLayout>

namespace vantera {
namespace {

constexpr int kShownWidth = 176;  // half the reader's width: the tab has room for it
constexpr int kShownHeight = 196;

}  // namespace

FingerprintView::FingerprintView(FPControl& control, QWidget* parent)
    : QWidget(parent), picture_(new QLabel(this)), count_(new QLabel(this)) {
  setObjectName("FingerprintView");
  picture_->setObjectName("FingerprintPicture");
  count_->setObjectName("FingerprintCount");
  picture_->setFixedSize(kShownWidth, kShownHeight);
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setFrameShape(QFrame::Box);
  count_->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(picture_, 0, Qt::AlignHCenter);
  layout->addWidget(count_);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  connect(&control, &FPControl::PlacementImage, this, &FingerprintView::Show);
}

QImage FingerprintView::ToQImage(const GreyImage& image) {
  QImage q(image.width, image.height, QImage::Format_Grayscale8);
  for (int y = 0; y < image.height; ++y)
    std::copy_n(&image.pixels[static_cast<size_t>(y) * static_cast<size_t>(image.width)],
                image.width, q.scanLine(y));
  return q;
}

void FingerprintView::Show(const GreyImage& image, int done, int needed) {
  shown_ = ToQImage(image);
  picture_->setPixmap(QPixmap::fromImage(
      shown_.scaled(kShownWidth, kShownHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  count_->setText(needed > 1 ? QString("%1/%2").arg(done).arg(needed) : QString());
}

}  // namespace vantera
