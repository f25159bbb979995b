// The program's entry: the application object, its title, the main window
// and the message loop. Every error that escapes is shown in the error box;
// the exit code is 0 in every case.
#include <QApplication>
#include <memory>

#include "app/MessageBoxes.h"
#include "app/PelicoreMainFm.h"
#include "platform/Application.h"

int main(int argc, char** argv) {
  QApplication App(argc, argv);
  pelicore::TQtMessageBoxes Boxes;
  pelicore::InstallErrorBox(Boxes);
  pelicore::Guarded([&Boxes] {
    pelicore::Application().Title = "Pelicore";
    auto PelicoreMainForm = std::make_unique<pelicore::TPelicoreMainForm>(Boxes);
    PelicoreMainForm->show();
    QApplication::exec();
  });
  pelicore::Application().SetExceptionHandler(nullptr);
  return 0;
}
