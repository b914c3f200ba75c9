// The main window: menu, tool bar, session grid and status bar; it owns the
// database session and logs in while it is created.
#pragma once

#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>

#include "ui/imagelist.h"

class QAction;
class QMenu;
class TDBGrid;
class TDataSource;
class TOQuery;
class QToolBar;
class QToolButton;
class TOSession;
class TStatusBar;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // Called with the new session before it connects; lets a caller set the
  // credentials (the program itself passes none).
  using TSessionSetup = std::function<void(TOSession* session)>;

  explicit TForm1(QWidget* parent = nullptr, TSessionSetup sessionSetup = {});
  ~TForm1() override;

  // Whether FormCreate ran to its end (the window is then shown).
  bool Created() const { return created_; }

  // Where the window opens on a screen of `screen` size: the left edge is a
  // fifth of the screen's height and the top edge a fifth of its width.
  static QPoint StartPosition(QSize screen);

  // Layout: menu, context menu, tool bar, grid, status bar, image list.
  QMenu* File1 = nullptr;
  QAction* Exit1 = nullptr;
  QMenu* Session1 = nullptr;
  QAction* ShowSql1 = nullptr;
  QAction* KillSession1 = nullptr;
  QAction* Refresh1 = nullptr;
  QAction* N1 = nullptr;
  QAction* Option1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* About1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* ShowSql2 = nullptr;
  QAction* Killsession2 = nullptr;
  QToolBar* ToolBar2 = nullptr;
  QToolButton* TBtnRefresh = nullptr;
  QToolButton* TBtnKillSession = nullptr;
  QWidget* ToolButton5 = nullptr;
  QToolButton* TBtnOptions = nullptr;
  QToolButton* TBtnShowsql = nullptr;
  QToolButton* TBtnExit = nullptr;
  TDBGrid* DBGrid1 = nullptr;
  TStatusBar* StatusBar2 = nullptr;
  TImageList ImageList1;

  // State.
  TOSession* MainSession = nullptr;
  TOQuery* SessionQuery = nullptr;
  TOQuery* KillQuery = nullptr;
  TOQuery* SqlTextQuery = nullptr;
  TDataSource* SessionSource = nullptr;
  QString SortColumn;
  bool SortDescending = false;
  QString DefaultOrder;
  QString CurrentOrder;
  bool ShowAllSessions = false;
  bool ShowKilledSessions = false;

  // Event handlers.
  void FormCreate();
  void FormShow();
  void ShowHintInStatus();
  void PopupMenu1Popup();
  void Exit1Click();
  void About1Click();
  void Refresh1Click();
  void Option1Click();
  void KillSession1Click();
  void ShowSql1Click();
  void TBtnShowsqlClick();

  void DBGrid1TitleClick(int column);
  // Sends the kill statement; any failure becomes "You have no ALTER SYSTEM privilege".
  void ExecuteKill(const QString& sid, const QString& serial);
  // The SQL text the session runs now, its pieces joined in order.
  QString ReadSessionSql(const QString& sid, const QString& serial);

  void LoadSessionList(const QString& order);
  // The session-list statement for the current options and `order`.
  QString SessionListStatement(const QString& order) const;
  bool HasCatalogRole();
  QString ReadVersionBanner();
  // Releases the session and everything bound to it; runs at most once.
  void ReleaseDatabaseObjects();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildLayout();
  void BuildMenus();
  void BuildToolBar();
  QToolButton* AddToolButton(const char* name, int image, void (TForm1::*action)());
  void Connect(QAction* action, void (TForm1::*handler)());
  // Rows of the open session list; 0 while it is closed.
  int SessionListRowCount() const;
  TOQuery* NewQuery(const QString& name);
  bool SessionListEmpty() const;
  // A field of the session list's current row as text.
  QString SessionField(const char* name) const;

  TSessionSetup sessionSetup_;
  bool created_ = false;
  bool hintHandlerInstalled_ = false;
  bool databaseObjectsReleased_ = false;
};

// The main window; set while it exists.
extern TForm1* Form1;
