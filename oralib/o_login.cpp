// The login dialog and the list of service names read from the client's
// tnsnames.ora files.
#include "o_login.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "o_class.h"
#include "o_error.h"
#include "o_lang.h"
#include "o_ociap.h"
#include "o_utils.h"
#include "ui/application.h"

namespace {

// A tnsnames.ora file is a few kilobytes; anything past this is not one, and
// reading stops there so that a device or a runaway file cannot hang the dialog.
constexpr qint64 kMaxTnsNamesBytes = 16 * 1024 * 1024;

bool KeptInServiceName(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '=';
}

// Empties a password field and wipes what it held once nothing else holds it
// (a kept UserInfo password still does). Setting the text also drops the
// field's undo history, which holds the typed characters.
void ClearPasswordField(QLineEdit* edit) {
  QString typed = edit->text();
  edit->setText(QString());
  ForgetText(typed);
}

bool IsCommentLine(const QByteArray& line) {
  for (const char ch : line) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= ' ') continue;  // leading blanks and control characters
    return c == '#';
  }
  return false;
}

}  // namespace

QByteArray ReadTnsNamesFile(const QString& fileName) {
  QFile file(fileName);
  if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly)) return {};
  const QByteArray raw = file.read(kMaxTnsNamesBytes);
  QByteArray text;
  text.reserve(raw.size() + raw.size() / 16);
  // Lines end at CR LF, LF or a lone CR.
  qsizetype start = 0;
  const qsizetype size = raw.size();
  while (start < size) {
    qsizetype end = start;
    while (end < size && raw[end] != '\n' && raw[end] != '\r') ++end;
    const QByteArray line = raw.mid(start, end - start);
    if (!IsCommentLine(line)) {
      text += line;
      text += "\r\n";
    }
    if (end < size && raw[end] == '\r' && end + 1 < size && raw[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return text;
}

QStringList ServiceNamesOf(const QByteArray& text) {
  // One pass from the last character to the first: a ")" opens a
  // parenthesised part (read backwards) and a "(" closes it.
  QByteArray filtered(text.size(), '\0');
  qsizetype out = text.size();
  int depth = 0;
  for (qsizetype i = text.size() - 1; i >= 0; --i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ')') ++depth;
    if (c == '(') --depth;
    if (depth == 0 && KeptInServiceName(c)) filtered[--out] = static_cast<char>(c);
  }
  filtered = filtered.mid(out);

  QStringList names;
  qsizetype from = 0;
  for (qsizetype eq = filtered.indexOf('=', from); eq >= 0; eq = filtered.indexOf('=', from)) {
    names.append(QString::fromLatin1(filtered.mid(from, eq - from)));
    from = eq + 1;
  }
  return names;
}

void BuildServiceList() {
  LoadClientLibrary();
  // The client's directory (.../lib), then its parent as the base of the home.
  const QString directory = QFileInfo(ClientLibraryPath()).path();
  const qsizetype slash = directory.lastIndexOf(QLatin1Char('/'));
  const QString base = slash >= 0 ? directory.left(slash + 1) : QString();
  QStringList& names = ServiceNames();
  names.clear();
  const QByteArray net80 = ReadTnsNamesFile(base + QStringLiteral("net80/admin/tnsnames.ora"));
  const QByteArray network = ReadTnsNamesFile(base + QStringLiteral("network/admin/tnsnames.ora"));
  names = ServiceNamesOf(network + net80);
}

ToraLoginFrm::ToraLoginFrm(TOSession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setObjectName(QStringLiteral("oraLoginFrm"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(380, 153);
  setWindowTitle(Application().Title());
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  setFont(font);

  auto place = [](QWidget* w, const char* name, int x, int y, int width, int height) {
    w->setObjectName(QLatin1String(name));
    w->setGeometry(x, y, width, height);
  };
  Button1 = new QPushButton(this);
  place(Button1, "Button1", 296, 24, 75, 25);
  Button1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  Button2 = new QPushButton(this);
  place(Button2, "Button2", 296, 104, 75, 25);
  Button2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  GroupBox1 = new QGroupBox(QStringLiteral("Connection"), this);
  place(GroupBox1, "GroupBox1", 8, 8, 281, 137);
  UserLbl = new QLabel(GroupBox1);
  place(UserLbl, "UserLbl", 16, 24, 93, 13);
  PasswordLbl = new QLabel(GroupBox1);
  place(PasswordLbl, "PasswordLbl", 16, 52, 93, 13);
  ServiceLbl = new QLabel(GroupBox1);
  place(ServiceLbl, "ServiceLbl", 16, 80, 93, 13);
  UserEdit = new QLineEdit(GroupBox1);
  place(UserEdit, "UserEdit", 116, 20, 133, 21);
  PasswordEdit = new QLineEdit(GroupBox1);
  place(PasswordEdit, "PasswordEdit", 116, 48, 133, 21);
  ServiceEdit = new QComboBox(GroupBox1);
  place(ServiceEdit, "ServiceEdit", 116, 76, 133, 21);
  ServiceEdit->setEditable(true);
  ServiceEdit->setInsertPolicy(QComboBox::NoInsert);
  Label1 = new QLabel(GroupBox1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->move(16, 112);
  Label1->hide();
  AppIcon = new QLabel(this);
  place(AppIcon, "AppIcon", 32, 152, 25, 9);
  AppIcon->hide();
  AppLbl = new QLabel(this);
  place(AppLbl, "AppLbl", 88, 172, 229, 13);
  AppLbl->hide();
  PromptLbl = new QLabel(this);
  place(PromptLbl, "PromptLbl", 96, 144, 229, 13);
  PromptLbl->hide();
  // Labels show what the user typed and the application title as text, never as markup.
  for (QLabel* label : {UserLbl, PasswordLbl, ServiceLbl, Label1, AppLbl, PromptLbl})
    label->setTextFormat(Qt::PlainText);

  // Tab order: the buttons, then the group box with its three fields.
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, UserEdit);
  setTabOrder(UserEdit, PasswordEdit);
  setTabOrder(PasswordEdit, ServiceEdit);
  setTabOrder(ServiceEdit, Button1);

  for (QWidget* field : {static_cast<QWidget*>(UserEdit), static_cast<QWidget*>(PasswordEdit),
                         static_cast<QWidget*>(ServiceEdit)})
    field->installEventFilter(this);
  if (ServiceEdit->lineEdit() != nullptr) ServiceEdit->lineEdit()->installEventFilter(this);

  connect(Button1, &QPushButton::clicked, this, [this] {
    Guarded(this, [this] { Button1Click(); });
    // The last allowed attempt closes the dialog once its error has been shown.
    if (closeWithCancel_) reject();
  });
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  FormCreate();
}

void ToraLoginFrm::FormCreate() {
  Button1->setText(LoadStr(SOKCaption));
  Button2->setText(LoadStr(SCancelCaption));
  UserLbl->setText(LoadStr(SUserName));
  PasswordLbl->setText(LoadStr(SPassword));
  ServiceLbl->setText(LoadStr(SDatabase));
  AppLbl->setText(LoadStr(SProductName) + QLatin1Char(' ') + Application().Title());
  PromptLbl->setText(LoadStr(SLoginPrompt));
}

ToraLoginFrm::~ToraLoginFrm() { ClearPasswordField(PasswordEdit); }

int ToraLoginFrm::ShowModal() { return exec(); }

void ToraLoginFrm::done(int result) {
  // The typed password stays in the field for the next attempt while the
  // dialog is open; it does not stay behind once the dialog ends, however.
  ClearPasswordField(PasswordEdit);
  QDialog::done(result);
}

void ToraLoginFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Restoring the minimised window is no new showing: what the user typed and
  // the attempts left stay.
  if (event->spontaneous()) return;
  Guarded(this, [this] { FormShow(); });
}

void ToraLoginFrm::FormShow() {
  if (ServiceEdit->isEnabled()) {
    BuildServiceList();
    const QString typed = ServiceEdit->currentText();
    ServiceEdit->clear();
    ServiceEdit->addItems(ServiceNames());
    ServiceEdit->setEditText(typed);
  }
  PasswordEdit->setEchoMode(QLineEdit::Password);
  PasswordEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
  UserEdit->setText(session_.UserInfo().Username);
  PasswordEdit->setText(session_.UserInfo().Password);
  ServiceEdit->setEditText(session_.UserInfo().Service);
  attemptsLeft_ = session_.UserInfo().Retries;
  if (UserEdit->text().trimmed().isEmpty())
    UserEdit->setFocus();
  else if (PasswordEdit->text().trimmed().isEmpty())
    PasswordEdit->setFocus();
  else
    Button1->setFocus();
}

void ToraLoginFrm::Button1Click() {
  // A second OK while the painted label waits for the server is ignored.
  if (connecting_) return;
  struct Busy {
    bool& flag;
    explicit Busy(bool& f) : flag(f) { flag = true; }
    ~Busy() { flag = false; }
  } busy(connecting_);
  ToUserInfo& info = session_.UserInfo();
  info.Username = UserEdit->text();
  info.Password = PasswordEdit->text();
  info.Service = ServiceEdit->currentText();
  Label1->setText(QStringLiteral("Connecting as ") + info.Username + QLatin1Char('@') +
                  info.Service + QStringLiteral(", ") + QStringLiteral("Please wait..."));
  Label1->adjustSize();
  Label1->show();
  QApplication::processEvents();  // paint the label before the log-on blocks
  try {
    session_.LogOn();
  } catch (const EOError&) {
    UserEdit->setFocus();
    Label1->hide();
    if (--attemptsLeft_ == 0) closeWithCancel_ = true;
    session_.Disconnect();
    throw;
  } catch (...) {
    UserEdit->setFocus();
    Label1->hide();
    session_.Disconnect();
    throw;
  }
  accept();
}

bool ToraLoginFrm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == ServiceEdit->lineEdit()) widget = ServiceEdit;
    if (widget != nullptr && UserEditKeyDown(widget, static_cast<QKeyEvent*>(event)->key()))
      return true;
  }
  return QDialog::eventFilter(watched, event);
}

void ToraLoginFrm::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) return;
  QDialog::keyPressEvent(event);
}

bool ToraLoginFrm::UserEditKeyDown(QWidget* sender, int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  if (focusWidget() != sender && !sender->isAncestorOf(focusWidget())) sender->setFocus();
  focusNextPrevChild(true);
  // Handled here: the Enter that moves the focus onto OK must not also press it.
  return true;
}

bool ExecuteLogin(TOSession& session) {
  ToraLoginFrm dialog(session);
  const bool accepted = dialog.ShowModal() == QDialog::Accepted;
  // A password the server refused is not kept for later when it is not to be kept at all.
  if (!accepted && session.UserInfo().ForgetPassword) ForgetText(session.UserInfo().Password);
  return accepted;
}
