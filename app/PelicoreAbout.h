#pragma once
// The About box: a fixed-size dialog with the program's picture, name,
// version and a disabled download button. It exists only while shown.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace pelicore {

class TAboutBox : public QDialog {
 public:
  explicit TAboutBox(QWidget* Owner);

  QFrame* Panel1;
  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* Copyright;
  QLabel* Comments;
  QPushButton* OKButton;
  QPushButton* BitBtn1;
};

// The program's picture: 32 x 32 pixels in the 16 colours of the classic
// palette, also used as the window icon.
QImage ProgramPicture();

}  // namespace pelicore
