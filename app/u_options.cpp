// The options dialog: which sessions the list shows.
#include "app/u_options.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>

#include "app/u_glyphs.h"
#include "ui/application.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* owner) : TForm(owner) {
  Form2 = this;
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Form2"));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  move(206, 207);
  SetOuterSize(this, QSize(330, 214));

  GroupBox1 = new QGroupBox(QStringLiteral("Session display options"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(16, 16, 289, 121);
  CheckBox1 = new QCheckBox(QStringLiteral("Show all sessions(siclude server sessions)"), GroupBox1);
  CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox1->setGeometry(16, 32, 249, 17);
  CheckBox2 = new QCheckBox(QStringLiteral("Show sessions that have been killed"), GroupBox1);
  CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
  CheckBox2->setGeometry(16, 80, 265, 17);

  BitBtn1 = new QPushButton(QStringLiteral("&Ok"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(40, 152, 75, 25);
  BitBtn1->setIcon(GreenTickGlyph());
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded(this, [this] { SetModalResult(mrOk); }); });
  BitBtn2 = new QPushButton(QStringLiteral("&Cancel"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(184, 152, 75, 25);
  BitBtn2->setIcon(RedCrossGlyph());
  connect(BitBtn2, &QPushButton::clicked, this, [this] { Guarded(this, [this] { SetModalResult(mrCancel); }); });
  setFocusProxy(BitBtn1);

  Guarded(this, [this] { FormCreate(); });
}

TForm2::~TForm2() {
  if (Form2 == this) Form2 = nullptr;
}

void TForm2::FormCreate() { setWindowTitle(QStringLiteral("Options")); }

void TForm2::FormShow() { BitBtn1->setFocus(); }
