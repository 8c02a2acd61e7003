// The controls of the main window, named as the rest of the program refers to them. Each
// widget's objectName is its name here. The window owns them all (Qt parent chain).
#pragma once

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWidget;

namespace vantera {

struct TfrmVanteraUi {
  // Top bar (41 px).
  QFrame* TopBar = nullptr;
  QPushButton* BtnExit = nullptr;

  // The notebook and its tabs.
  QTabWidget* OvcNBook = nullptr;

  // "Seuranta": identification.
  QWidget* OvcTabSeuranta = nullptr;
  QFrame* FPGetTemplateX = nullptr;  // holder of the capture control
  QPushButton* BBtnNayte = nullptr;
  QPushButton* BBtnSaKeskeyta = nullptr;
  QPushButton* BBtnTyhjenna = nullptr;
  QPushButton* BBtnShowMsg = nullptr;
  QLineEdit* EdtSeAsNo = nullptr;
  QLineEdit* EdtSeKortti = nullptr;
  QLineEdit* EdtSeAsNimi = nullptr;
  QLineEdit* EdtSeOsoite = nullptr;
  QLineEdit* EdtSePosti = nullptr;
  QPlainTextEdit* MemoSa = nullptr;

  // "Rekisteröinti": enrolment.
  QWidget* OvcTabReg = nullptr;
  QFrame* FPRegTemplateX = nullptr;  // holder of the enrolment control
  QPushButton* BBtnHaku = nullptr;
  QPushButton* BBtnSormenjalki = nullptr;
  QPushButton* BBtnKeskeyta = nullptr;
  QPushButton* BBtnTalleta = nullptr;
  QLineEdit* EdtAsNo = nullptr;
  QLineEdit* EdtKortti = nullptr;
  QLineEdit* EdtAsNimi = nullptr;
  QLineEdit* EdtOsoite = nullptr;
  QLineEdit* EdtPosti = nullptr;
  QPlainTextEdit* Memo = nullptr;

  // "Asetukset": settings.
  QWidget* PageSetup = nullptr;
  QCheckBox* ChkBoxDebug = nullptr;

  // Bottom bar (26 px).
  QFrame* BottomBar = nullptr;
  QLabel* StatusLine = nullptr;
  QLabel* PanInfo = nullptr;
};

// Builds every control into window (which gets a vertical layout) and fills ui.
void BuildMainWindowLayout(QWidget* window, TfrmVanteraUi& ui);

}  // namespace vantera
