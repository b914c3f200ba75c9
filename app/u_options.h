// The options dialog: which sessions the list shows.
#pragma once

#include "ui/forms.h"

class QCheckBox;
class QGroupBox;
class QPushButton;

class TForm2 : public TForm {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* owner = nullptr);
  ~TForm2() override;

  QGroupBox* GroupBox1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;  // ShowAllSessions
  QCheckBox* CheckBox2 = nullptr;  // ShowKilledSessions
  QPushButton* BitBtn1 = nullptr;  // OK
  QPushButton* BitBtn2 = nullptr;  // Cancel

  void FormCreate();

 protected:
  // OK has the focus each time the dialog opens.
  void FormShow() override;
};

// The options dialog; set while it exists.
extern TForm2* Form2;
