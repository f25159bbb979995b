#pragma once
// A multi-line text box with a maximum length: typing and pasting stop at the
// limit, and text set beyond it is cut there.

#include <QPlainTextEdit>

namespace pelicore {

class TLogEdit : public QPlainTextEdit {
 public:
  explicit TLogEdit(QWidget* Parent, int MaxLength);
  ~TLogEdit() override;
  int MaxLength() const { return FMaxLength; }
  // Characters held, as counted against MaxLength.
  int Length() const;

 private:
  void CutToMaxLength(int Position, int Added);

  int FMaxLength;
  bool FCutting = false;
};

}  // namespace pelicore
