// The SQL statement window: shows the SQL text of a session.
#pragma once

#include "ui/forms.h"

class QPlainTextEdit;
class QPushButton;

class TForm3 : public TForm {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* owner = nullptr);
  ~TForm3() override;

  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* BitBtn1 = nullptr;  // OK

  void FormCreate();

 protected:
  // OK has the focus each time the window opens.
  void FormShow() override;
};

// The SQL statement window; set while it exists.
extern TForm3* Form3;
