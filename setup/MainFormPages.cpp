// The window's controls, placed as the design places them.
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>

#include "setup/MainForm.h"

namespace ombrix::setup {

namespace {

QLabel* Label(QWidget* page, const QString& text, int left, int top, int width = 392,
              int height = 16, bool wrap = false) {
  auto* label = new QLabel(text, page);
  label->setGeometry(left, top, width, height);
  label->setWordWrap(wrap);
  label->setTextFormat(Qt::PlainText);  // names from the script are not markup
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QLabel* Title(QWidget* page, const QString& text) {
  QLabel* label = Label(page, text, 8, 16, 392, 20);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSize(10);
  label->setFont(font);
  return label;
}

QPushButton* Button(QWidget* parent, const QString& text, int left, int top, int width) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(left, top, width, 21);
  button->setAutoDefault(false);
  return button;
}

QCheckBox* Option(QWidget* page, const QString& text, int left, int top) {
  auto* box = new QCheckBox(text, page);
  box->setGeometry(left, top, 400 - left, 20);
  return box;
}

QListWidget* MessageBox(QWidget* page, int height) {
  auto* list = new QListWidget(page);
  list->setGeometry(8, 40, 392, height);
  list->setItemDelegate(new TLineDelegate(list));
  list->setUniformItemSizes(true);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette palette = list->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  list->setPalette(palette);
  return list;
}

QFrame* Line(QWidget* parent, int top) {
  auto* line = new QFrame(parent);
  line->setGeometry(0, top, 408, 2);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

void TForm1::BuildWindow() {
  setWindowTitle("Setup");
  setFont(QFont("Verdana", 8));
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  setPalette(palette);
  setFixedSize(408, 408);

  auto* panel1 = new QWidget(this);
  panel1->setGeometry(0, 0, 408, 149);
  panel1->setAutoFillBackground(true);
  QPalette white = panel1->palette();
  white.setColor(QPalette::Window, Qt::white);
  panel1->setPalette(white);
  Image1 = new QLabel(panel1);
  Image1->setGeometry(0, 0, 408, 147);
  Image1->setScaledContents(true);
  Line(panel1, 147);

  Notebook1 = new QStackedWidget(this);
  Notebook1->setGeometry(0, 149, 408, 202);
  Notebook1->addWidget(BuildWelcomePage());
  Notebook1->addWidget(BuildDirectoryPage());
  Notebook1->addWidget(BuildOptionsPage());
  Notebook1->addWidget(BuildConfirmPage());
  Notebook1->addWidget(BuildStatusPage());
  Notebook1->addWidget(BuildCompletePage());
  Notebook1->addWidget(BuildErrorPage());
  Notebook1->addWidget(BuildUninstallPage());

  auto* panel3 = new QWidget(this);
  panel3->setGeometry(0, 351, 408, 41);
  Line(panel3, 0);
  BackButton = Button(panel3, "Back", 156, 12, 75);
  BackButton->setEnabled(false);
  NextButton = Button(panel3, "Next", 236, 12, 75);
  NextButton->setDefault(true);
  CancelButton = Button(panel3, "Cancel", 326, 12, 75);

  auto* panel2 = new QLabel(this);
  panel2->setGeometry(0, 392, 408, 16);
  panel2->setText(
      QString::fromUtf8("  Ombrix is free software; you install and use it at your own risk."));
  QFont small("Verdana", 6);
  panel2->setFont(small);
  panel2->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  connect(BackButton, &QPushButton::clicked, this, [this] { BackButtonClick(); });
  connect(NextButton, &QPushButton::clicked, this, [this] { NextButtonClick(); });
  connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
  connect(ChangeButton, &QPushButton::clicked, this, [this] { ChangeButtonClick(); });
  connect(ReadMeButton, &QPushButton::clicked, this, [this] { ReadMeButtonClick(); });
  connect(LicenseButton, &QPushButton::clicked, this, [this] { LicenseButtonClick(); });
  connect(AddShortCutsOption, &QCheckBox::clicked, this, [this] { AddShortCutsOptionClick(); });
}

QWidget* TForm1::BuildWelcomePage() {
  auto* page = new QWidget;
  WelcomeTitle = Title(page, "#APP_NAME Setup");
  WelcomeText =
      Label(page, "This program will install #APP_NAME on your computer.", 8, 48, 392, 57, true);
  LicenseButton = Button(page, "Read license agreement", 240, 140, 157);
  WelcomeInstruction = Label(page, "Click Next to continue.", 8, 164, 392, 29, true);
  return page;
}

QWidget* TForm1::BuildDirectoryPage() {
  auto* page = new QWidget;
  DirectoryTitle = Title(page, "Installation Directory");
  DirectoryText = Label(page, "Install #APP_NAME to:", 8, 48);
  InstallDirectory = new QLineEdit("#DEFAULT_DIRECTORY", page);
  InstallDirectory->setGeometry(8, 64, 325, 21);
  InstallDirectory->setReadOnly(true);
  QPalette palette = InstallDirectory->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  InstallDirectory->setPalette(palette);
  ChangeButton = Button(page, "&Change", 340, 64, 61);
  Label4 = Label(page,
                 "Click Next to accept the installation directory, or click Change to install "
                 "to a different directory.",
                 8, 164, 392, 29, true);
  return page;
}

QWidget* TForm1::BuildOptionsPage() {
  auto* page = new QWidget;
  StartMenuTitle = Title(page, "Installation Options");
  AddShortCutsOption = Option(page, "Add #APP_NAME to the Start Menu.", 8, 48);
  AddShortCutsOption->setChecked(true);
  CommonOption =
      Option(page, "Make the shortcuts available to all users of this computer.", 28, 72);
  AddToStartupOption =
      Option(page, "Have the application run each time you start your computer.", 8, 100);
  StartNowOption = Option(page, "Start the application when the install completes.", 8, 128);
  Label7 = Label(page, "Select the desired options, then click Next to continue.", 8, 164);
  return page;
}

QWidget* TForm1::BuildConfirmPage() {
  auto* page = new QWidget;
  ConfirmTitle = Title(page, "Confirm Installation Settings");
  ConfirmDetails = MessageBox(page, 116);
  Label5 = Label(page,
                 "Click Install to begin the installation, or click Back to make changes to the "
                 "listed settings.",
                 8, 164, 392, 29, true);
  return page;
}

QWidget* TForm1::BuildStatusPage() {
  auto* page = new QWidget;
  StatusTitle = Title(page, "Installation Status");
  StatusText = Label(page, "StatusText", 8, 48);
  FileNameText = Label(page, "FileNameText", 8, 76);
  FileNameText->setTextFormat(Qt::PlainText);
  StatusProgressBar = new QProgressBar(page);
  StatusProgressBar->setGeometry(8, 108, 392, 21);
  StatusProgressBar->setTextVisible(false);
  return page;
}

QWidget* TForm1::BuildCompletePage() {
  auto* page = new QWidget;
  CompleteTitle = Title(page, "Installation Complete");
  CompleteText = Label(page, "", 8, 48, 392, 57, true);
  ReadMeButton = Button(page, "View the ReadMe File", 260, 140, 137);
  Label2 = Label(page, "Click Finish to exit.", 8, 164);
  return page;
}

QWidget* TForm1::BuildErrorPage() {
  auto* page = new QWidget;
  ErrorTitle = Title(page, "Installation Error");
  QPalette red = ErrorTitle->palette();
  red.setColor(QPalette::WindowText, QColor(255, 0, 0));
  ErrorTitle->setPalette(red);
  ErrorText = Label(page, "", 8, 48, 392, 141, true);
  ErrorText->setTextFormat(Qt::PlainText);
  return page;
}

QWidget* TForm1::BuildUninstallPage() {
  auto* page = new QWidget;
  UninstallTitle = Title(page, "Uninstalling");
  UninstallMessages = MessageBox(page, 148);
  return page;
}

}  // namespace ombrix::setup
