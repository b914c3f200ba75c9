// The login dialog and the list of service names from the client's tnsnames.ora files.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QStringList>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TOSession;

// Clears and refills the process-wide service-name list from the client
// installation next to the loaded client library.
void BuildServiceList();
// The service names in the joined text of the tnsnames.ora files (exposed
// for tests): parenthesised parts and every character other than letters,
// digits, ".", "_" and "=" are dropped, then the text is split at "=".
QStringList ServiceNamesOf(const QByteArray& text);
// A tnsnames.ora file's text with whole-line "#" comments dropped and every
// kept line followed by CR LF; empty when the file cannot be read.
QByteArray ReadTnsNamesFile(const QString& fileName);

class ToraLoginFrm : public QDialog {
  Q_OBJECT

 public:
  explicit ToraLoginFrm(TOSession& session, QWidget* parent = nullptr);
  // Wipes the password field, also when the dialog goes without closing.
  ~ToraLoginFrm() override;

  // Shows the dialog modally; QDialog::Accepted when the session is connected.
  int ShowModal();
  // Empties the password field as the dialog closes, however it closes.
  void done(int result) override;

  int AttemptsLeft() const { return attemptsLeft_; }
  // True while a log-on attempt runs (the dialog lets the GUI paint meanwhile).
  bool Connecting() const { return connecting_; }

  QPushButton* Button1;
  QPushButton* Button2;
  QGroupBox* GroupBox1;
  QLabel* UserLbl;
  QLabel* PasswordLbl;
  QLabel* ServiceLbl;
  QLineEdit* UserEdit;
  QLineEdit* PasswordEdit;
  QComboBox* ServiceEdit;
  QLabel* Label1;
  QLabel* AppIcon;
  QLabel* AppLbl;
  QLabel* PromptLbl;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Escape does nothing: the dialog closes only by Cancel, its close box or
  // when the attempts run out.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void Button1Click();
  // Enter in a field moves the focus forward in tab order.
  bool UserEditKeyDown(QWidget* sender, int key);

  TOSession& session_;
  int attemptsLeft_ = 0;
  bool closeWithCancel_ = false;
  bool connecting_ = false;
};

// Shows the login dialog for `session`; true when it closed with OK.
bool ExecuteLogin(TOSession& session);
