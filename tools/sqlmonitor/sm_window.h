// The SQL monitor's window: the registered client applications, the trace
// categories to ask them for, and the log of received lines with a filter.
#pragma once

#include <QFile>
#include <QList>
#include <QMainWindow>
#include <memory>

#include "sm_log.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSortFilterProxyModel;
class QTableView;
class TSMServer;

class TSMMonitorWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit TSMMonitorWindow(TSMServer& server, QWidget* parent = nullptr);
  ~TSMMonitorWindow() override;

  // Also appends every received line to `fileName` as it arrives.
  bool TeeTo(const QString& fileName, QString* error = nullptr);
  // Writes the whole log (not only the lines the filter shows).
  bool SaveLog(const QString& fileName, QString* error = nullptr) const;
  void ClearLog();

  const TSMLog& Log() const { return log_; }
  QLineEdit* FilterBox() const { return filter_; }
  QTableView* View() const { return view_; }
  QListWidget* ClientList() const { return clients_; }
  QCheckBox* CategoryBox(int category) const { return categoryBoxes_.value(category); }
  QString LineCountText() const;
  // Whether new lines scroll the view: true until the user scrolls away from
  // the bottom, and again once they scroll back to it.
  bool Following() const { return following_; }

 private:
  void AddLine(const QString& client, const QString& line);
  void UpdateClients();
  void UpdateStatus();
  void CategoryToggled();
  void Save();

  TSMServer& server_;
  TSMLog log_;
  QSortFilterProxyModel* shown_ = nullptr;
  QTableView* view_ = nullptr;
  QLineEdit* filter_ = nullptr;
  QListWidget* clients_ = nullptr;
  QList<QCheckBox*> categoryBoxes_;
  QLabel* lineCount_ = nullptr;
  QLabel* paused_ = nullptr;
  bool following_ = true;
  std::unique_ptr<QFile> tee_;
};
