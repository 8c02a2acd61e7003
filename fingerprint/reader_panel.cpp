#include "fingerprint/reader_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/win1252.h"

namespace vantera {
namespace {

// Texts are written as Windows-1252 bytes and converted for display.
QString Text(std::string_view win1252) {
  return QString::fromStdString(Win1252ToUtf8(win1252));
}

}  // namespace

ReaderPanel::ReaderPanel(SimulatedReader& reader, ReaderTarget target, QWidget* parent)
    : QWidget(parent),
      reader_(reader),
      target_(target),
      name_(new QLineEdit(this)),
      place_(new QPushButton(Text("Aseta sormi"), this)),
      status_(new QLabel(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel(Text("Sormi:"), this));
  name_->setPlaceholderText(Text("esim. 12345/oikea etusormi"));
  name_->setMaxLength(static_cast<int>(kMaxFingerName));
  layout->addWidget(name_, 1);
  layout->addWidget(place_);
  layout->addWidget(status_, 1);
  connect(place_, &QPushButton::clicked, this, &ReaderPanel::PlaceFinger);
  connect(name_, &QLineEdit::returnPressed, this, &ReaderPanel::PlaceFinger);
}

QString ReaderPanel::StatusText(const PlaceReply& reply) {
  QString progress = QString::number(reply.done) + "/" + QString::number(reply.needed);
  switch (reply.outcome) {
    case PlaceOutcome::kCaptured:
      return Text("Sormi luettu.");
    case PlaceOutcome::kEnrolled:
      if (reply.done >= reply.needed)
        return Text("Rekister\xF6inti valmis.");
      return Text("Rekister\xF6inti: ") + progress + Text(" luettu.");
    case PlaceOutcome::kRejected:
      return Text("Eri sormi kuin ensimm\xE4isell\xE4 kerralla: ") + progress + Text(" luettu.");
    case PlaceOutcome::kNoneArmed:
      break;
  }
  return Text("Lukija ei odota sormea.");
}

void ReaderPanel::PlaceFinger() {
  std::string finger = Utf8ToWin1252(name_->text().trimmed().toStdString());
  if (finger.empty()) {
    status_->setText(Text("Anna sormen nimi."));
    return;
  }
  QString shown_name = name_->text().trimmed();
  PlaceReply reply = reader_.Place(finger, target_);
  // OnDone handlers have run; the panel may be showing a different tab by now, but it
  // lives as long as the window.
  status_->setText(StatusText(reply));
  emit Placed(shown_name, status_->text());
}

}  // namespace vantera
