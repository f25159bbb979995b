#include "app/LogEdit.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace pelicore {

TLogEdit::TLogEdit(QWidget* Parent, int MaxLength) : QPlainTextEdit(Parent), FMaxLength(MaxLength) {
  connect(document(), &QTextDocument::contentsChange, this,
          [this](int Position, int, int Added) { CutToMaxLength(Position, Added); });
}

// The document outlives this part of the object while the base class tears
// down; it must not call back into it.
TLogEdit::~TLogEdit() { disconnect(document(), nullptr, this, nullptr); }

int TLogEdit::Length() const {
  // The document counts one paragraph separator more than the text holds.
  return document()->characterCount() - 1;
}

void TLogEdit::CutToMaxLength(int Position, int Added) {
  const int Excess = Length() - FMaxLength;
  if (FCutting || Excess <= 0 || Added <= 0) return;
  // Drop the end of what was just inserted, so the text before it stays. A
  // change that reaches the end of the document is reported with the final
  // paragraph separator counted as added, which is no text to drop.
  const int End = qMin(Position + Added, Length());
  const int Begin = qMax(Position, End - Excess);
  if (Begin >= End) return;
  FCutting = true;
  QTextCursor Cursor(document());
  Cursor.setPosition(Begin);
  Cursor.setPosition(End, QTextCursor::KeepAnchor);
  Cursor.removeSelectedText();
  FCutting = false;
}

}  // namespace pelicore
