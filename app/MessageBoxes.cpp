#include "app/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include "app/QtText.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"

namespace pelicore {

namespace {

QMessageBox::StandardButton ShowBox(QMessageBox::Icon Icon, const std::string& Text, const std::string& Caption,
                                    QMessageBox::StandardButtons Buttons, QMessageBox::StandardButton Default) {
  QMessageBox Box(Icon, Q(Caption), Q(Text), Buttons, QApplication::activeWindow());
  Box.setDefaultButton(Default);
  return static_cast<QMessageBox::StandardButton>(Box.exec());
}

}  // namespace

void TQtMessageBoxes::ShowMessage(const std::string& Text) {
  ShowBox(QMessageBox::NoIcon, Text, Application().Title, QMessageBox::Ok, QMessageBox::Ok);
}

bool TQtMessageBoxes::AskYesNo(const std::string& Text, const std::string& Caption) {
  return ShowBox(QMessageBox::Information, Text, Caption, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
         QMessageBox::Yes;
}

void TQtMessageBoxes::ShowError(const std::string& Text) {
  ShowBox(QMessageBox::Critical, Text, Application().Title, QMessageBox::Ok, QMessageBox::Ok);
}

std::string ErrorBoxText(std::string_view Text) {
  std::string Result(Text);
  if (Text.empty()) return Result;
  // Step back over UTF-8 continuation bytes to the first byte of the last
  // character; a lead byte of a multi-byte character is above any ASCII byte.
  std::size_t Start = Text.size() - 1;
  while (Start > 0 && (static_cast<unsigned char>(Text[Start]) & 0xC0) == 0x80) --Start;
  if (static_cast<unsigned char>(Text[Start]) > static_cast<unsigned char>('.')) Result += '.';
  return Result;
}

void InstallErrorBox(TMessageBoxes& Boxes) {
  Application().SetExceptionHandler(
      [&Boxes](std::exception_ptr E) { Boxes.ShowError(ErrorBoxText(ExceptionText(E))); });
}

}  // namespace pelicore
