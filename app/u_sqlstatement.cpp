// The SQL statement window: shows the SQL text of a session as plain text.
#include "app/u_sqlstatement.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "app/u_glyphs.h"
#include "ui/application.h"

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* owner) : TForm(owner) {
  Form3 = this;
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Form3"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint |
                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  move(207, 161);
  setFixedSize(347, 229);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(0, 0, 347, 177);
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  BitBtn1 = new QPushButton(QStringLiteral("&Ok"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(128, 192, 75, 25);
  BitBtn1->setIcon(GreenTickGlyph());
  connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded(this, [this] { SetModalResult(mrOk); }); });
  setFocusProxy(BitBtn1);

  Guarded(this, [this] { FormCreate(); });
}

TForm3::~TForm3() {
  if (Form3 == this) Form3 = nullptr;
}

void TForm3::FormCreate() { setWindowTitle(QStringLiteral("Sql statement")); }

void TForm3::FormShow() { BitBtn1->setFocus(); }
