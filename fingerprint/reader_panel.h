// The on-screen reader: a small panel on a tab where a person names a finger and places it
// on the simulated reader, as vantera-reader does from a terminal.
#pragma once

#include <QWidget>

#include "fingerprint/simulated_reader.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace vantera {

class ReaderPanel : public QWidget {
  Q_OBJECT

 public:
  // target: which control the panel's placements go to (the capture control on "Seuranta",
  // the enrolment control on "Rekisteröinti"; kAuto as the reader socket does). The reader
  // must outlive the panel.
  ReaderPanel(SimulatedReader& reader, ReaderTarget target, QWidget* parent = nullptr);

  QLineEdit* NameEdit() const { return name_; }
  QPushButton* PlaceButton() const { return place_; }
  QLabel* StatusLabel() const { return status_; }

  // The status text shown for a reply.
  static QString StatusText(const PlaceReply& reply);

 signals:
  // A finger was placed: its name and the shown status, for the activity log.
  void Placed(const QString& finger, const QString& status);

 private:
  void PlaceFinger();

  SimulatedReader& reader_;
  ReaderTarget target_;
  QLineEdit* name_;  // children of this widget
  QPushButton* place_;
  QLabel* status_;
};

}  // namespace vantera
