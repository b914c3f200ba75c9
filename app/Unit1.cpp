// The main window: its layout, creation and log-on, the session list and the
// session actions, and the release of its database objects.
#include "app/Unit1.h"

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>
#include <utility>

#include "app/Unit1_images.h"
#include "app/u_about.h"
#include "app/u_errorfrm.h"
#include "app/u_options.h"
#include "app/u_sqlstatement.h"
#include "oralib/o_error.h"
#include "ui/dialogs.h"
#include "ui/forms.h"
#include "oralib/o_class.h"
#include "oralib/o_class_query.h"
#include "ui/datasource.h"
#include "ui/dbgrid.h"
#include "oralib/o_error_window.h"
#include "ui/application.h"
#include "ui/exception.h"
#include "ui/hint.h"
#include "ui/programicon.h"
#include "ui/screen.h"
#include "ui/statusbar.h"

TForm1* Form1 = nullptr;

namespace {

// Status bar panels.
constexpr int HintPanel = 0;
constexpr int UserPanel = 2;

// The grid's fixed columns: field, title (empty: the field's name as the
// query reports it) and width.
struct SessionColumn {
  const char* fieldName;
  const char* title;
  int width;
};
constexpr SessionColumn kSessionColumns[] = {
    {"Username", "", 65},   {"Program", "", 80},     {"Status", "", 60},        {"Logon_time", "", 90},
    {"Osuser", "", 100},    {"Machine", "", 105},    {"Terminal", "", 60},      {"sid", "Sid", 20},
    {"Serial#", "", 20},    {"Schemaname", "", 65},  {"Sql_address", "", 70},   {"Sql_hash_value", "", 70},
    {"server", "", 65}};

constexpr int CountPanel = 1;

const QString kSessionListBase = QStringLiteral(
    "select Username,sid,serial#,status, OSUSER, MACHINE,TERMINAL, PROGRAM , SCHEMANAME, LOGON_TIME, "
    "SQL_ADDRESS, SQL_HASH_VALUE,audsid,type,server,userenv('sessionid') ssid from v$session");

// Menu shortcut: Ctrl plus a letter.
QKeySequence Ctrl(Qt::Key key) { return QKeySequence(Qt::CTRL | key); }

}  // namespace

TForm1::TForm1(QWidget* parent, TSessionSetup sessionSetup)
    : QMainWindow(parent), sessionSetup_(std::move(sessionSetup)) {
  // Set before creation, so that whatever FormCreate reaches finds the main window.
  Form1 = this;
  BuildLayout();
  created_ = Guarded(this, [this] { FormCreate(); });
}

TForm1::~TForm1() {
  // The application outlives the window: leave it no handler into a dead one.
  if (hintHandlerInstalled_) Application().OnHint = nullptr;
  if (Form1 == this) Form1 = nullptr;
}

QPoint TForm1::StartPosition(QSize screen) { return QPoint(screen.height() / 5, screen.width() / 5); }

void TForm1::BuildLayout() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Form1"));
  setWindowIcon(ProgramIcon());
  SetOuterSize(this, QSize(600, 400));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

  FillMainImages(ImageList1);
  BuildMenus();
  BuildToolBar();

  DBGrid1 = new TDBGrid(this);
  DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  DBGrid1->setTabKeyNavigation(true);
  // The selected row stays highlighted when the grid loses the focus.
  QPalette palette = DBGrid1->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  DBGrid1->setPalette(palette);
  QList<TColumn> columns;
  for (const SessionColumn& column : kSessionColumns)
    columns.append(TColumn{QLatin1String(column.fieldName), QLatin1String(column.title), column.width});
  DBGrid1->SetColumns(columns);
  connect(DBGrid1, &TDBGrid::TitleClick, this,
          [this](int column) { Guarded(this, [&] { DBGrid1TitleClick(column); }); });
  // The context menu belongs to every column, its title as well as its cells;
  // the grid has made the pressed row current before it asks.
  connect(DBGrid1, &TDBGrid::ColumnContextMenu, this, [this](int, const QPoint& globalPos) {
    Guarded(this, [&] { PopupMenu1->popup(globalPos); });
  });
  setCentralWidget(DBGrid1);
  DBGrid1->setFocus();

  StatusBar2 = new TStatusBar(this);
  StatusBar2->setObjectName(QStringLiteral("StatusBar2"));
  StatusBar2->setFixedHeight(19);
  for (int width : {350, 120, 60}) StatusBar2->AddPanel(width);
  setStatusBar(StatusBar2);
}

void TForm1::Connect(QAction* action, void (TForm1::*handler)()) {
  connect(action, &QAction::triggered, this, [this, handler] { Guarded(this, [&] { (this->*handler)(); }); });
}

void TForm1::BuildMenus() {
  menuBar()->setObjectName(QStringLiteral("MainMenu1"));

  auto item = [this](QMenu* menu, const char* name, const QString& caption, QKeySequence shortcut,
                     void (TForm1::*handler)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    Connect(action, handler);
    return action;
  };

  File1 = menuBar()->addMenu(QStringLiteral("&File"));
  File1->setObjectName(QStringLiteral("File1"));
  Exit1 = item(File1, "Exit1", QStringLiteral("E&xit"), Ctrl(Qt::Key_X), &TForm1::Exit1Click);

  Session1 = menuBar()->addMenu(QStringLiteral("&Session"));
  Session1->setObjectName(QStringLiteral("Session1"));
  ShowSql1 = item(Session1, "ShowSql1", QStringLiteral("&Show Sql"), Ctrl(Qt::Key_S), &TForm1::ShowSql1Click);
  KillSession1 = item(Session1, "KillSession1", QStringLiteral("&Kill Session"), Ctrl(Qt::Key_K),
                      &TForm1::KillSession1Click);
  Refresh1 = item(Session1, "Refresh1", QStringLiteral("&Refresh"), Ctrl(Qt::Key_R), &TForm1::Refresh1Click);
  N1 = Session1->addSeparator();
  N1->setObjectName(QStringLiteral("N1"));
  Option1 = item(Session1, "Option1", QStringLiteral("&Option"), Ctrl(Qt::Key_O), &TForm1::Option1Click);

  Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
  Help1->setObjectName(QStringLiteral("Help1"));
  About1 = item(Help1, "About1", QStringLiteral("&About"), QKeySequence(), &TForm1::About1Click);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  ShowSql2 = PopupMenu1->addAction(QStringLiteral("Show Sql"));
  ShowSql2->setObjectName(QStringLiteral("ShowSql2"));
  Connect(ShowSql2, &TForm1::ShowSql1Click);
  Killsession2 = PopupMenu1->addAction(QStringLiteral("Kill session"));
  Killsession2->setObjectName(QStringLiteral("Killsession2"));
  Connect(Killsession2, &TForm1::KillSession1Click);
  connect(PopupMenu1, &QMenu::aboutToShow, this, [this] { Guarded(this, [this] { PopupMenu1Popup(); }); });
}

QToolButton* TForm1::AddToolButton(const char* name, int image, void (TForm1::*action)()) {
  auto* button = new QToolButton(ToolBar2);
  button->setObjectName(QString::fromLatin1(name));
  button->setIcon(ImageList1.Icon(image));
  button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  button->setAutoRaise(true);
  connect(button, &QToolButton::clicked, this, [this, action] { Guarded(this, [&] { (this->*action)(); }); });
  ToolBar2->addWidget(button);
  return button;
}

void TForm1::BuildToolBar() {
  ToolBar2 = new QToolBar(this);
  ToolBar2->setObjectName(QStringLiteral("ToolBar2"));
  ToolBar2->setFixedHeight(30);
  ToolBar2->setMovable(false);
  ToolBar2->setFloatable(false);
  ToolBar2->setIconSize(ImageList1.ImageSize());
  ToolBar2->toggleViewAction()->setVisible(false);
  addToolBar(Qt::TopToolBarArea, ToolBar2);

  TBtnRefresh = AddToolButton("TBtnRefresh", 18, &TForm1::Refresh1Click);
  TBtnKillSession = AddToolButton("TBtnKillSession", 14, &TForm1::KillSession1Click);
  auto* separator = new QFrame(ToolBar2);
  separator->setObjectName(QStringLiteral("ToolButton5"));
  separator->setFrameShape(QFrame::VLine);
  separator->setFrameShadow(QFrame::Sunken);
  separator->setFixedWidth(8);
  ToolBar2->addWidget(separator);
  ToolButton5 = separator;
  TBtnOptions = AddToolButton("TBtnOptions", 0, &TForm1::Option1Click);
  TBtnShowsql = AddToolButton("TBtnShowsql", 20, &TForm1::TBtnShowsqlClick);
  TBtnExit = AddToolButton("TBtnExit", 4, &TForm1::Exit1Click);
}

void TForm1::FormCreate() {
  Application().OnHint = [this] { ShowHintInStatus(); };
  hintHandlerInstalled_ = true;
  Application().SetTitle(QStringLiteral("Quenlow"));

  if (ApplicationErrorWindow == nullptr) ApplicationErrorWindow = new TErrorFrm();
  // A fatal error ends the program through this window's database objects.
  ApplicationErrorWindow->SetReleaseAndTerminate([self = QPointer<TForm1>(this)] {
    if (self) self->ReleaseDatabaseObjects();
    Application().Terminate();
  });

  MainSession = new TOSession(this);
  MainSession->SetSessionName(QStringLiteral("Quenlow"));
  if (sessionSetup_) sessionSetup_(MainSession);

  SessionQuery = NewQuery(QStringLiteral("SessionQuery"));
  KillQuery = NewQuery(QStringLiteral("KillQuery"));
  SqlTextQuery = NewQuery(QStringLiteral("SqlTextQuery"));
  SessionSource = new TDataSource(this);
  SessionSource->setObjectName(QStringLiteral("SessionSource"));
  SessionSource->SetDataSet(SessionQuery);
  DBGrid1->SetDataSource(SessionSource);

  ShowAllSessions = false;
  ShowKilledSessions = false;
  DefaultOrder = QStringLiteral("order by sid");
  CurrentOrder = DefaultOrder;

  SetControlHint(TBtnRefresh, QStringLiteral("Refresh|Retrieve all current sessions and Refresh the list"));
  SetControlHint(TBtnOptions, QStringLiteral("Options|Change the display options"));
  SetControlHint(TBtnKillSession, QStringLiteral("Kill Session|Kill selected session"));
  SetControlHint(TBtnExit, QStringLiteral("Exit|Exit"));
  SetControlHint(TBtnShowsql, QStringLiteral("Show Sql|Show sql statement according to this session"));

  MainSession->Connect();

  if (!HasCatalogRole())
    throw Exception(MainSession->UserInfo().Username + QStringLiteral(" have no enough privilege"));
  const QString banner = ReadVersionBanner();
  setWindowTitle(QStringLiteral("Quenlow___ ") + banner);
  StatusBar2->SetPanelText(UserPanel, MainSession->UserInfo().Username);
  show();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) Guarded(this, [this] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  // Closing the main window ends the application.
  if (event->isAccepted()) Application().Terminate();
}

void TForm1::FormShow() {
  move(StartPosition(Screen::Size()));
  LoadSessionList(CurrentOrder);
}

void TForm1::ShowHintInStatus() {
  const QString longHint = GetLongHint(Application().Hint());
  StatusBar2->SetPanelText(HintPanel, longHint);
}

void TForm1::PopupMenu1Popup() {
  const bool hasRows = SessionListRowCount() != 0;
  ShowSql2->setEnabled(hasRows);
  Killsession2->setEnabled(hasRows);
}

int TForm1::SessionListRowCount() const {
  return SessionQuery != nullptr && SessionQuery->Active() ? SessionQuery->RecordCount() : 0;
}

TOQuery* TForm1::NewQuery(const QString& name) {
  auto* query = new TOQuery(this);
  query->SetName(name);
  query->SetSession(MainSession);
  return query;
}

void TForm1::Exit1Click() { close(); }

void TForm1::About1Click() {
  if (FrmAbout != nullptr) FrmAbout->ShowModal();
}

void TForm1::Refresh1Click() { LoadSessionList(DefaultOrder); }

void TForm1::Option1Click() {
  if (Form2 == nullptr) return;
  if (Form2->ShowModal() == mrOk) {
    ShowAllSessions = Form2->CheckBox1->isChecked();
    ShowKilledSessions = Form2->CheckBox2->isChecked();
    LoadSessionList(QString());
  } else {
    Form2->CheckBox1->setChecked(ShowAllSessions);
    Form2->CheckBox2->setChecked(ShowKilledSessions);
  }
}

bool TForm1::SessionListEmpty() const {
  // A closed or empty record set is at its beginning and its end at once.
  return SessionQuery == nullptr || (SessionQuery->Bof() && SessionQuery->Eof());
}

QString TForm1::SessionField(const char* name) const {
  return SessionQuery->FieldByName(QLatin1String(name))->AsString();
}

void TForm1::KillSession1Click() {
  if (SessionListEmpty()) return;
  const QString sid = SessionField("sid");
  const QString serial = SessionField("serial#");
  const QString type = SessionField("type");
  const QString audsid = SessionField("audsid");
  const QString ssid = SessionField("ssid");
  if (type == QStringLiteral("BACKGROUND")) {
    ShowMessage(QStringLiteral("Can not kill Sever Session"));
    return;
  }
  if (audsid == ssid) {
    ShowMessage(QStringLiteral("Do not kill yourself!"));
    return;
  }
  if (MessageDlgYesNo(QStringLiteral("Do you really want to kill this session!")) != mrYes) return;
  ExecuteKill(sid, serial);
  LoadSessionList(CurrentOrder);
}

void TForm1::ExecuteKill(const QString& sid, const QString& serial) {
  if (sid.isEmpty() || serial.isEmpty()) return;
  try {
    KillQuery->SQL().Clear();
    KillQuery->SQL().Add(QStringLiteral("alter system kill session'") + sid + QLatin1Char(',') + serial +
                         QLatin1Char('\''));
    KillQuery->ExecuteStatement();
    KillQuery->Close();
  } catch (...) {
    throw EOError(QStringLiteral("You have no ALTER SYSTEM privilege"));
  }
}

void TForm1::ShowSql1Click() {
  if (SessionListEmpty()) return;
  const QString sid = SessionField("sid");
  const QString serial = SessionField("serial#");
  const QString sql = ReadSessionSql(sid, serial);
  if (Form3 == nullptr) return;
  Form3->Memo1->setPlainText(sql);
  Form3->ShowModal();
}

QString TForm1::ReadSessionSql(const QString& sid, const QString& serial) {
  if (sid.isEmpty() || serial.isEmpty()) return {};
  SqlTextQuery->SQL().Clear();
  SqlTextQuery->SQL().Add(
      QStringLiteral("select s.sql_text from v$sqltext s,v$session sn where s.address=sn.sql_address "
                     "and s.hash_value=sn.sql_hash_value and sn.sid=") +
      sid + QStringLiteral(" and sn.serial#=") + serial + QStringLiteral(" order by piece"));
  SqlTextQuery->Open();
  // The server cuts the text into pieces by bytes, possibly inside a
  // character: the pieces are joined as bytes and decoded once.
  QByteArray text;
  if (SqlTextQuery->RecordCount() > 0) {
    SqlTextQuery->First();
    while (!SqlTextQuery->Eof()) {
      TField* piece = SqlTextQuery->FieldByName(QStringLiteral("sql_text"));
      if (const auto* stringPiece = dynamic_cast<const TStringField*>(piece))
        text += stringPiece->AsUtf8();
      else
        text += piece->AsString().toUtf8();
      SqlTextQuery->Next();
    }
  }
  SqlTextQuery->Close();
  return QString::fromUtf8(text);
}

void TForm1::TBtnShowsqlClick() { ShowSql1Click(); }

QString TForm1::SessionListStatement(const QString& order) const {
  QString filter;
  if (!ShowAllSessions) filter = QStringLiteral("where type<>'BACKGROUND'");
  if (!ShowKilledSessions) {
    if (ShowAllSessions)
      filter = QStringLiteral("where status<>'KILLED'");
    else
      filter += QStringLiteral(" and status<>'KILLED'");
  }
  QString statement = kSessionListBase;
  if (!filter.isEmpty()) statement += QLatin1Char(' ') + filter;
  return statement + QLatin1Char(' ') + order;
}

void TForm1::LoadSessionList(const QString& order) {
  const QString clause = order.isEmpty() ? CurrentOrder : order;
  SessionQuery->Close();
  SessionQuery->SQL().Clear();
  SessionQuery->SQL().Add(SessionListStatement(clause));
  SessionQuery->Open();
  for (int i = 0; i < static_cast<int>(std::size(kSessionColumns)); ++i)
    DBGrid1->SetColumnWidth(i, kSessionColumns[i].width);
  DBGrid1->viewport()->update();
  // Every row the statement returned, with the first row still current.
  SessionQuery->FetchAll();
  const int count = SessionQuery->RecordCount();
  StatusBar2->SetPanelText(CountPanel, QStringLiteral("Total sessions: ") + QString::number(count));
}

void TForm1::DBGrid1TitleClick(int column) {
  if (column < 0 || column >= static_cast<int>(std::size(kSessionColumns))) return;
  const QString field = QLatin1String(kSessionColumns[column].fieldName);
  if (field != SortColumn) {
    CurrentOrder = QStringLiteral("order by ") + field;
  } else {
    SortDescending = !SortDescending;
    CurrentOrder = QStringLiteral("order by ") + field + (SortDescending ? QStringLiteral(" desc") : QString());
  }
  SortColumn = field;
  LoadSessionList(CurrentOrder);
}

bool TForm1::HasCatalogRole() {
  try {
    TOQuery query(this);
    query.SetSession(MainSession);
    // Every row counts: a role listed twice is not the one row the check expects.
    query.QueryAll = true;
    query.SQL().Add(QStringLiteral("select * from session_roles where role='SELECT_CATALOG_ROLE'"));
    query.Open();
    const bool granted = query.RecordCount() == 1;
    query.Close();
    return granted;
  } catch (...) {
    return false;
  }
}

QString TForm1::ReadVersionBanner() {
  try {
    TOQuery query(this);
    query.SetSession(MainSession);
    query.SQL().Add(QStringLiteral("select banner from v$version"));
    query.Open();
    const QString banner =
        query.RecordCount() > 0 ? query.FieldByName(QStringLiteral("banner"))->AsString() : QStringLiteral(" ");
    query.Close();
    return banner;
  } catch (...) {
    return QStringLiteral("Unkown Oracle Version");
  }
}

void TForm1::ReleaseDatabaseObjects() {
  if (databaseObjectsReleased_) return;
  databaseObjectsReleased_ = true;
  delete std::exchange(SessionSource, nullptr);
  delete std::exchange(SessionQuery, nullptr);
  delete std::exchange(KillQuery, nullptr);
  delete std::exchange(SqlTextQuery, nullptr);
  // Destroying the session ends its connection.
  delete std::exchange(MainSession, nullptr);
  delete ApplicationErrorWindow;
  ReleaseOracleErrorWindow();
}
