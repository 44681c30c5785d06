#include <QApplication>
#include <QIcon>

#include "platform/paths/Paths.h"
#include "setup/MainForm.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Setup Program");
  QApplication::setWindowIcon(QIcon(":/setup/setup.png"));
  ombrix::setup::TForm1 form(platform::ProgramPath());
  form.show();
  return app.exec();
}
