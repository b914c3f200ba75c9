// The About window: product title, version and its picture button.
#include "app/u_about.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "app/u_glyphs.h"
#include "ui/application.h"

TFrmAbout* FrmAbout = nullptr;

namespace {

QFont FontOfHeight(int pixels) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(pixels);
  return font;
}

}  // namespace

TFrmAbout::TFrmAbout(QWidget* owner) : TForm(owner) {
  FrmAbout = this;
  setObjectName(QStringLiteral("FrmAbout"));
  setWindowTitle(QStringLiteral("About"));
  setFont(FontOfHeight(11));
  move(234, 182);
  SetOuterSize(this, QSize(364, 238));

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(16, 8, 329, 153);
  Label1 = new QLabel(QStringLiteral("Quenlow"), GroupBox1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setFont(FontOfHeight(19));
  Label1->move(32, 24);
  Label2 = new QLabel(QStringLiteral("Ver 1.0.1.1"), GroupBox1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setFont(FontOfHeight(13));
  Label2->move(256, 32);

  BitBtn1 = new QPushButton(QStringLiteral("&Ok"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(136, 176, 75, 25);
  BitBtn1->setIcon(RedTickGlyph());
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded(this, [this] { SetModalResult(mrOk); }); });
}

TFrmAbout::~TFrmAbout() {
  if (FrmAbout == this) FrmAbout = nullptr;
}
