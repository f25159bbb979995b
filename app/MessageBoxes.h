#pragma once
// The boxes the program shows, behind one small interface so that tests can
// answer and read them: the plain message box, the Yes/No question and the
// error box. Texts are UTF-8; the caption of the plain and the error box is
// the application title.

#include <exception>
#include <string>
#include <string_view>

namespace pelicore {

class TMessageBoxes {
 public:
  virtual ~TMessageBoxes() = default;
  // One OK button, no icon; returns when the user has closed it.
  virtual void ShowMessage(const std::string& Text) = 0;
  // Yes and No, Yes the default, the information icon; true for Yes.
  virtual bool AskYesNo(const std::string& Text, const std::string& Caption) = 0;
  // One OK button and the stop icon; Text is shown as given.
  virtual void ShowError(const std::string& Text) = 0;
};

// The boxes of the desktop, modal over the active window.
class TQtMessageBoxes : public TMessageBoxes {
 public:
  void ShowMessage(const std::string& Text) override;
  bool AskYesNo(const std::string& Text, const std::string& Caption) override;
  void ShowError(const std::string& Text) override;
};

// The error box's text for an error text: a "." is appended when the last
// character (a multi-byte character counts as one) is greater than ".".
std::string ErrorBoxText(std::string_view Text);

// Routes every exception that reaches the event loop to Boxes.ShowError.
// Boxes must outlive the handler (reinstall or clear it before destroying).
void InstallErrorBox(TMessageBoxes& Boxes);

}  // namespace pelicore
