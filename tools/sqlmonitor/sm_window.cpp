// The SQL monitor's window: registered applications, trace categories, and the
// log with its filter.
#include "sm_window.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "oralib/o_trace.h"
#include "ui/programicon.h"
#include "sm_server.h"

namespace {

constexpr int kCategoryCount = 11;

}  // namespace

TSMMonitorWindow::TSMMonitorWindow(TSMServer& server, QWidget* parent)
    : QMainWindow(parent), server_(server) {
  setWindowTitle(QStringLiteral("Quenlow SQL Monitor"));
  setWindowIcon(ProgramIcon());
  resize(1100, 650);

  // Left: who is connected and what they are asked to send.
  auto* side = new QWidget;
  auto* sideLayout = new QVBoxLayout(side);
  sideLayout->addWidget(new QLabel(QStringLiteral("Client applications")));
  clients_ = new QListWidget;
  sideLayout->addWidget(clients_, 1);
  auto* categories = new QGroupBox(QStringLiteral("Trace categories"));
  auto* grid = new QGridLayout(categories);
  for (int category = 0; category < kCategoryCount; ++category) {
    auto* box = new QCheckBox(TraceCategoryName(static_cast<TTraceCategory>(category)));
    box->setChecked((server_.Categories() & (1u << category)) != 0);
    connect(box, &QCheckBox::toggled, this, &TSMMonitorWindow::CategoryToggled);
    grid->addWidget(box, category / 2, category % 2);
    categoryBoxes_.append(box);
  }
  auto* all = new QPushButton(QStringLiteral("All"));
  auto* none = new QPushButton(QStringLiteral("None"));
  const auto tickAll = [this](bool ticked) {
    for (QCheckBox* box : categoryBoxes_) {
      const QSignalBlocker quiet(box);
      box->setChecked(ticked);
    }
    CategoryToggled();
  };
  connect(all, &QPushButton::clicked, this, [tickAll] { tickAll(true); });
  connect(none, &QPushButton::clicked, this, [tickAll] { tickAll(false); });
  grid->addWidget(all, kCategoryCount / 2 + 1, 0);
  grid->addWidget(none, kCategoryCount / 2 + 1, 1);
  sideLayout->addWidget(categories);

  // Right: the log with its filter and commands.
  auto* main = new QWidget;
  auto* mainLayout = new QVBoxLayout(main);
  auto* bar = new QHBoxLayout;
  filter_ = new QLineEdit;
  filter_->setPlaceholderText(QStringLiteral("Filter lines (text, client or time)"));
  filter_->setClearButtonEnabled(true);
  bar->addWidget(filter_, 1);
  auto* clear = new QPushButton(QStringLiteral("&Clear"));
  auto* save = new QPushButton(QStringLiteral("&Save..."));
  bar->addWidget(clear);
  bar->addWidget(save);
  mainLayout->addLayout(bar);

  shown_ = new QSortFilterProxyModel(this);
  shown_->setSourceModel(&log_);
  shown_->setFilterKeyColumn(-1);
  shown_->setFilterCaseSensitivity(Qt::CaseInsensitive);
  view_ = new QTableView;
  view_->setModel(shown_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setWordWrap(false);
  view_->verticalHeader()->hide();
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
  view_->horizontalHeader()->setStretchLastSection(true);
  view_->setColumnWidth(TSMLog::TimeColumn, 110);
  view_->setColumnWidth(TSMLog::ClientColumn, 140);
  mainLayout->addWidget(view_, 1);

  auto* splitter = new QSplitter;
  splitter->addWidget(side);
  splitter->addWidget(main);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({260, 840});
  setCentralWidget(splitter);

  lineCount_ = new QLabel;
  paused_ = new QLabel(QStringLiteral("Auto-scroll paused: scroll to the bottom to resume"));
  paused_->hide();
  statusBar()->addWidget(paused_);
  statusBar()->addPermanentWidget(lineCount_);

  // Follow the newest line while the view is at the bottom. The range grows
  // with each line without moving the value, so a user who scrolled up stays
  // where they are; scrolling back down resumes following.
  QScrollBar* scroll = view_->verticalScrollBar();
  connect(scroll, &QScrollBar::rangeChanged, this, [this, scroll](int, int maximum) {
    if (following_) scroll->setValue(maximum);
  });
  connect(scroll, &QScrollBar::valueChanged, this, [this, scroll](int value) {
    following_ = value >= scroll->maximum();
    UpdateStatus();
  });

  connect(filter_, &QLineEdit::textChanged, shown_, &QSortFilterProxyModel::setFilterFixedString);
  connect(filter_, &QLineEdit::textChanged, this, &TSMMonitorWindow::UpdateStatus);
  connect(clear, &QPushButton::clicked, this, &TSMMonitorWindow::ClearLog);
  connect(save, &QPushButton::clicked, this, &TSMMonitorWindow::Save);
  connect(&server_, &TSMServer::LineReceived, this, &TSMMonitorWindow::AddLine);
  connect(&server_, &TSMServer::ClientsChanged, this, &TSMMonitorWindow::UpdateClients);

  if (!server_.RegistrationWarning().isEmpty()) statusBar()->showMessage(server_.RegistrationWarning());
  UpdateClients();
  UpdateStatus();
}

TSMMonitorWindow::~TSMMonitorWindow() {
  // The view outlives this part of the window while the base class deletes
  // the children: its scroll bar must no longer call back into it.
  view_->verticalScrollBar()->disconnect(this);
}

bool TSMMonitorWindow::TeeTo(const QString& fileName, QString* error) {
  // The lines carry statements and values: a new log is this user's alone,
  // and they are never appended to a file of another user.
  const int fd = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error != nullptr) *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_uid != geteuid()) {
    ::close(fd);
    if (error != nullptr) *error = QStringLiteral("the file belongs to another user");
    return false;
  }
  auto file = std::make_unique<QFile>();
  if (!file->open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
    if (error != nullptr) *error = file->errorString();
    ::close(fd);
    return false;
  }
  tee_ = std::move(file);
  return true;
}

void TSMMonitorWindow::AddLine(const QString& client, const QString& line) {
  TSMLogLine entry{QDateTime::currentDateTime(), client, line};
  if (tee_ != nullptr) {
    tee_->write((TSMLog::Format(entry) + QLatin1Char('\n')).toUtf8());
    tee_->flush();
  }
  log_.Append(std::move(entry));
  UpdateStatus();
}

void TSMMonitorWindow::ClearLog() {
  log_.Clear();
  following_ = true;
  UpdateStatus();
}

bool TSMMonitorWindow::SaveLog(const QString& fileName, QString* error) const {
  QSaveFile file(fileName);
  // A new file (or one that replaces another user's) is this user's alone; a
  // file of this user's keeps the mode it has.
  struct stat info {};
  const bool own = stat(QFile::encodeName(fileName).constData(), &info) == 0 && info.st_uid == geteuid();
  if (file.open(QIODevice::WriteOnly) &&
      (own || file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)) && log_.Save(file) && file.commit())
    return true;
  if (error != nullptr) *error = file.errorString();
  return false;
}

void TSMMonitorWindow::Save() {
  const QString fileName = QFileDialog::getSaveFileName(
      this, QStringLiteral("Save the log"), QStringLiteral("sqlmonitor.log"),
      QStringLiteral("Log files (*.log *.txt);;All files (*)"));
  if (fileName.isEmpty()) return;
  QString error;
  if (!SaveLog(fileName, &error)) {
    QMessageBox box(QMessageBox::Warning, windowTitle(),
                    QStringLiteral("Cannot save the log to %1: %2").arg(fileName, error), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);  // a file name is text, not markup
    box.exec();
  } else {
    statusBar()->showMessage(QStringLiteral("Saved %1 lines to %2").arg(log_.Count()).arg(fileName), 5000);
  }
}

void TSMMonitorWindow::CategoryToggled() {
  std::uint16_t categories = 0;
  for (int category = 0; category < categoryBoxes_.size(); ++category)
    if (categoryBoxes_[category]->isChecked()) categories |= static_cast<std::uint16_t>(1u << category);
  server_.SetCategories(categories);
}

void TSMMonitorWindow::UpdateClients() {
  clients_->clear();
  for (const TSMClientInfo& client : server_.Clients()) {
    const QString title = client.title.isEmpty() ? QStringLiteral("(untitled)") : client.title;
    clients_->addItem(QStringLiteral("%1 (process %2)").arg(title).arg(client.pid));
  }
}

QString TSMMonitorWindow::LineCountText() const {
  const int total = log_.Count();
  const QString lines = total == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(total);
  if (filter_->text().isEmpty()) return lines;
  return QStringLiteral("%1 of %2 shown").arg(shown_->rowCount()).arg(lines);
}

void TSMMonitorWindow::UpdateStatus() {
  lineCount_->setText(LineCountText());
  paused_->setVisible(!following_ && log_.Count() > 0);
}
