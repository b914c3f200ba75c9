// The About window: product title and version.
#pragma once

#include "ui/forms.h"

class QGroupBox;
class QLabel;
class QPushButton;

class TFrmAbout : public TForm {
  Q_OBJECT

 public:
  explicit TFrmAbout(QWidget* owner = nullptr);
  ~TFrmAbout() override;

  QGroupBox* GroupBox1 = nullptr;
  QLabel* Label1 = nullptr;  // product title
  QLabel* Label2 = nullptr;  // version
  QPushButton* BitBtn1 = nullptr;  // OK
};

// The About window; set while it exists.
extern TFrmAbout* FrmAbout;
