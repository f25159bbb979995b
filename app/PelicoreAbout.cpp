#include "app/PelicoreAbout.h"

#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include "app/PelicoreFont.h"

namespace pelicore {

QImage ProgramPicture() {
  // An envelope on a teal tile, drawn in 16-colour indexed pixels.
  const QList<QRgb> Palette = {0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080,
                               0xff008080, 0xffc0c0c0, 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
                               0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
  QImage Picture(32, 32, QImage::Format_Indexed8);
  Picture.setColorTable(Palette);
  Picture.fill(6);  // teal
  for (int Y = 8; Y < 25; ++Y)
    for (int X = 3; X < 29; ++X) Picture.setPixel(X, Y, (Y == 8 || Y == 24 || X == 3 || X == 28) ? 0 : 15);
  // The flap: two diagonals from the top corners to the middle.
  for (int I = 0; I <= 12; ++I) {
    Picture.setPixel(3 + I, 8 + I * 8 / 12, 0);
    Picture.setPixel(28 - I, 8 + I * 8 / 12, 0);
  }
  for (int Y = 2; Y < 8; ++Y)
    for (int X = 22; X < 29; ++X) Picture.setPixel(X, Y, 11);  // a yellow stamp
  return Picture;
}

TAboutBox::TAboutBox(QWidget* Owner) : QDialog(Owner) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QStringLiteral("バージョン情報"));
  setFont(PelicoreFont());
  setFixedSize(298, 198);

  Panel1 = new QFrame(this);
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);  // lowered outer, raised inner bevel
  Panel1->setGeometry(8, 8, 281, 145);

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setGeometry(8, 8, 65, 57);
  ProgramIcon->setScaledContents(true);
  ProgramIcon->setPixmap(QPixmap::fromImage(ProgramPicture()));

  // Labels start where designed and grow to their text, so that the glyphs
  // of a substitute font are never cut.
  auto MakeLabel = [this](const QString& Text, int Left, int Top, int Width) {
    auto* Label = new QLabel(Text, Panel1);
    const QSize Hint = Label->sizeHint();
    Label->setGeometry(Left, Top, qMax(Width, Hint.width()), qMax(12, Hint.height()));
    return Label;
  };
  ProductName = MakeLabel(QStringLiteral("Pelicore"), 88, 16, 84);
  Version = MakeLabel(QStringLiteral("Version 0.10"), 88, 40, 63);
  Copyright = MakeLabel(QStringLiteral("Copyright (C) 2000 the Pelicore developers"), 15, 80, 251);
  Comments = MakeLabel(QStringLiteral("Thank you for taking this software!!"), 48, 120, 183);
  // Wrapping words within the panel, as tall as its lines need.
  Comments->setWordWrap(true);
  const int CommentsWidth = qMin(Comments->width(), 281 - 48 - 8);
  Comments->resize(CommentsWidth, qMax(12, Comments->heightForWidth(CommentsWidth)));
  QPalette Red = Comments->palette();
  Red.setColor(QPalette::WindowText, Qt::red);
  Comments->setPalette(Red);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setGeometry(39, 164, 75, 25);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  BitBtn1 = new QPushButton(QStringLiteral("最新版のダウンロード"), this);
  BitBtn1->setGeometry(144, 164, 123, 25);
  BitBtn1->setEnabled(false);

  if (QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->availableGeometry().center() - rect().center());
}

}  // namespace pelicore
