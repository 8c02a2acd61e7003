// The layout of the main window: top bar, notebook with three tabs, bottom bar.
#include <QCheckBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/main_window_ui.h"
#include "app/qt_text.h"
#include "app/status_hints.h"

namespace vantera {
namespace {

template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QPushButton* Button(QWidget* parent, const char* name, std::string_view caption) {
  auto* button = Named(new QPushButton(ToDisplay(caption), parent), name);
  button->setMinimumWidth(button->sizeHint().width() + 8);  // the caption is never clipped
  return button;
}

QLineEdit* ReadOnlyField(QWidget* parent, const char* name) {
  auto* edit = Named(new QLineEdit(parent), name);
  edit->setReadOnly(true);
  return edit;
}

// A read-only list of lines with both scroll bars.
QPlainTextEdit* LogList(QWidget* parent, const char* name) {
  auto* list = Named(new QPlainTextEdit(parent), name);
  list->setReadOnly(true);
  list->setLineWrapMode(QPlainTextEdit::NoWrap);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  return list;
}

// The holder in which a fingerprint control shows itself.
QFrame* ControlHolder(QWidget* parent, const char* name) {
  auto* frame = Named(new QFrame(parent), name);
  frame->setFrameShape(QFrame::StyledPanel);
  frame->setFrameShadow(QFrame::Sunken);
  frame->setMinimumSize(160, 120);
  frame->setLayout(new QVBoxLayout);
  return frame;
}

struct Fields {
  QLineEdit* as_no;
  QLineEdit* kortti;
  QLineEdit* nimi;
  QLineEdit* osoite;
  QLineEdit* posti;
};

// The five customer and card fields: "Asiakas" and "Kortti" labelled, then name, address
// line and post line.
QFormLayout* FieldsLayout(const Fields& f) {
  auto* form = new QFormLayout;
  form->addRow(ToDisplay("Asiakas"), f.as_no);
  form->addRow(ToDisplay("Kortti"), f.kortti);
  form->addRow(QString(), f.nimi);
  form->addRow(QString(), f.osoite);
  form->addRow(QString(), f.posti);
  return form;
}

QWidget* BuildSeuranta(QTabWidget* book, TfrmVanteraUi& ui) {
  auto* page = Named(new QWidget(book), "OvcTabSeuranta");
  SetHint(page, "|Sormenj\xE4ljen tunnistus.");
  ui.OvcTabSeuranta = page;
  ui.FPGetTemplateX = ControlHolder(page, "FPGetTemplateX");
  ui.BBtnNayte = Button(page, "BBtnNayte", "N\xE4yte");
  ui.BBtnSaKeskeyta = Button(page, "BBtnSaKeskeyta", "Keskeyt\xE4");
  ui.BBtnTyhjenna = Button(page, "BBtnTyhjenna", "Tyhjenn\xE4");
  ui.BBtnShowMsg = Button(page, "BBtnShowMsg", "Viestit");
  ui.EdtSeAsNo = ReadOnlyField(page, "EdtSeAsNo");
  ui.EdtSeKortti = ReadOnlyField(page, "EdtSeKortti");
  ui.EdtSeAsNimi = ReadOnlyField(page, "EdtSeAsNimi");
  ui.EdtSeOsoite = ReadOnlyField(page, "EdtSeOsoite");
  ui.EdtSePosti = ReadOnlyField(page, "EdtSePosti");
  ui.MemoSa = LogList(page, "MemoSa");

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {ui.BBtnNayte, ui.BBtnSaKeskeyta, ui.BBtnTyhjenna, ui.BBtnShowMsg})
    buttons->addWidget(b);
  buttons->addStretch();

  auto* top = new QHBoxLayout;
  top->addWidget(ui.FPGetTemplateX);
  top->addLayout(buttons);
  top->addLayout(
      FieldsLayout({ui.EdtSeAsNo, ui.EdtSeKortti, ui.EdtSeAsNimi, ui.EdtSeOsoite, ui.EdtSePosti}),
      1);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top);
  layout->addWidget(ui.MemoSa, 1);
  return page;
}

QWidget* BuildRekisterointi(QTabWidget* book, TfrmVanteraUi& ui) {
  auto* page = Named(new QWidget(book), "OvcTabReg");
  SetHint(page, "|Asiakkaan sormenj\xE4ljen rekister\xF6inti.");
  ui.OvcTabReg = page;
  ui.FPRegTemplateX = ControlHolder(page, "FPRegTemplateX");
  ui.BBtnHaku = Button(page, "BBtnHaku", "Haku");
  SetHint(ui.BBtnHaku, "|Asiakkaan ja kortin haku.");
  ui.BBtnSormenjalki = Button(page, "BBtnSormenjalki", "Lue sormenj\xE4lki");
  SetHint(ui.BBtnSormenjalki, "|Lue sormenj\xE4lki.");
  ui.BBtnKeskeyta = Button(page, "BBtnKeskeyta", "Keskeyt\xE4");
  ui.BBtnTalleta = Button(page, "BBtnTalleta", "Talleta");
  ui.EdtAsNo = ReadOnlyField(page, "EdtAsNo");
  ui.EdtKortti = ReadOnlyField(page, "EdtKortti");
  ui.EdtAsNimi = ReadOnlyField(page, "EdtAsNimi");
  ui.EdtOsoite = ReadOnlyField(page, "EdtOsoite");
  ui.EdtPosti = ReadOnlyField(page, "EdtPosti");
  ui.Memo = LogList(page, "Memo");

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {ui.BBtnHaku, ui.BBtnSormenjalki, ui.BBtnKeskeyta, ui.BBtnTalleta})
    buttons->addWidget(b);
  buttons->addStretch();

  auto* top = new QHBoxLayout;
  top->addWidget(ui.FPRegTemplateX);
  top->addLayout(buttons);
  top->addLayout(FieldsLayout({ui.EdtAsNo, ui.EdtKortti, ui.EdtAsNimi, ui.EdtOsoite, ui.EdtPosti}),
                 1);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top);
  layout->addWidget(ui.Memo, 1);
  return page;
}

QWidget* BuildAsetukset(QTabWidget* book, TfrmVanteraUi& ui) {
  auto* page = Named(new QWidget(book), "PageSetup");
  ui.PageSetup = page;
  ui.ChkBoxDebug = Named(new QCheckBox(ToDisplay("N\xE4yt\xE4 viestit"), page), "ChkBoxDebug");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(ui.ChkBoxDebug);
  layout->addStretch();
  return page;
}

QLabel* SunkenPanel(QWidget* parent, const char* name) {
  auto* label = Named(new QLabel(parent), name);
  label->setFrameShape(QFrame::Panel);
  label->setFrameShadow(QFrame::Sunken);
  return label;
}

}  // namespace

void BuildMainWindowLayout(QWidget* window, TfrmVanteraUi& ui) {
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  ui.TopBar = Named(new QFrame(window), "TopBar");
  ui.TopBar->setFixedHeight(41);
  ui.TopBar->setFrameShape(QFrame::Panel);
  ui.TopBar->setFrameShadow(QFrame::Raised);
  ui.BtnExit = Named(new QPushButton(ui.TopBar), "BtnExit");
  ui.BtnExit->setIcon(window->style()->standardIcon(QStyle::SP_DialogCloseButton));
  ui.BtnExit->setText(ToDisplay("Sulje"));
  ui.BtnExit->setFixedHeight(33);
  SetHint(ui.BtnExit, "|Sulje ohjelma.");
  auto* top = new QHBoxLayout(ui.TopBar);
  top->setContentsMargins(4, 4, 4, 4);
  top->addWidget(ui.BtnExit);
  top->addStretch();

  ui.OvcNBook = Named(new QTabWidget(window), "OvcNBook");
  SetHint(ui.OvcNBook, "|Sormenj\xE4ljen tunnistus.");
  ui.OvcNBook->addTab(BuildSeuranta(ui.OvcNBook, ui), ToDisplay("Seuranta"));
  ui.OvcNBook->addTab(BuildRekisterointi(ui.OvcNBook, ui), ToDisplay("Rekister\xF6inti"));
  ui.OvcNBook->addTab(BuildAsetukset(ui.OvcNBook, ui), ToDisplay("Asetukset"));
  ui.OvcNBook->setEnabled(true);

  ui.BottomBar = Named(new QFrame(window), "BottomBar");
  ui.BottomBar->setFixedHeight(26);
  ui.StatusLine = SunkenPanel(ui.BottomBar, "StatusLine");
  ui.PanInfo = SunkenPanel(ui.BottomBar, "PanInfo");
  ui.PanInfo->setFixedWidth(147);
  auto* bottom = new QHBoxLayout(ui.BottomBar);
  bottom->setContentsMargins(0, 0, 0, 0);
  bottom->setSpacing(2);
  bottom->addWidget(ui.StatusLine, 1);
  bottom->addWidget(ui.PanInfo);

  layout->addWidget(ui.TopBar);
  layout->addWidget(ui.OvcNBook, 1);
  layout->addWidget(ui.BottomBar);
}

}  // namespace vantera
