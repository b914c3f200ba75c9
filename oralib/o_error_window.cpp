// The error windows' shared layout (TErrorWindow) and the Oracle error window.
#include "o_error_window.h"

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTextCursor>
#include <QTextEdit>

#include "o_error.h"
#include "o_lang.h"
#include "ui/screen.h"

namespace {

TOraErrorFrm* oracleErrorWindow = nullptr;

const QString kProblemSqlBanner = QStringLiteral("****************** Problem SQL ******************");

QTextCharFormat Plain(const QColor& colour) {
  QTextCharFormat format;
  format.setForeground(colour);
  format.setFontUnderline(false);
  return format;
}

}  // namespace

TErrorWindow::TErrorWindow(QWidget* parent) : TForm(parent) {
  // Sizable, with the system menu and minimise among the title-bar buttons. The
  // frame keeps its close command: without it nothing but Button1 would close
  // the window on a desktop that honours the hints.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  setFont(font);
  resize(400, 238);

  TopPanel = new QFrame(this);
  TopPanel->setObjectName(QStringLiteral("TopPanel"));
  ErrIcon = new QLabel(TopPanel);
  ErrIcon->setObjectName(QStringLiteral("ErrIcon"));
  ErrIcon->setGeometry(12, 16, 36, 36);
  ErrIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  FirstErrLbl = new QLabel(TopPanel);
  FirstErrLbl->setObjectName(QStringLiteral("FirstErrLbl"));
  FirstErrLbl->setGeometry(60, 16, 233, 57);
  FirstErrLbl->setWordWrap(true);
  FirstErrLbl->setTextFormat(Qt::PlainText);  // server and exception texts, never markup
  FirstErrLbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  RightPanel = new QFrame(TopPanel);
  RightPanel->setObjectName(QStringLiteral("RightPanel"));
  Button1 = new QPushButton(RightPanel);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(13, 12, 75, 25);
  Button1->setDefault(true);  // Enter closes; Escape and the frame close through reject()
  DetailBtn = new QPushButton(RightPanel);
  DetailBtn->setObjectName(QStringLiteral("DetailBtn"));
  DetailBtn->setGeometry(12, 52, 75, 25);
  DetailBtn->hide();
  BottomPanel = new QFrame(this);
  BottomPanel->setObjectName(QStringLiteral("BottomPanel"));
  BottomPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  BottomPanel->setLineWidth(3);
  RichEdit = new QTextEdit(BottomPanel);
  RichEdit->setObjectName(QStringLiteral("RichEdit"));
  RichEdit->setFrameStyle(QFrame::NoFrame);
  RichEdit->setReadOnly(true);
  RichEdit->setLineWrapMode(QTextEdit::NoWrap);
  RichEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  SetCancelButton(Button1);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(DetailBtn, &QPushButton::clicked, this, [this] { Guarded(this, [this] { DetailBtnClick(); }); });
  LayOut();
}

void TErrorWindow::LayOut() {
  const int w = width();
  TopPanel->setGeometry(0, 0, w, kTopPanelHeight);
  RightPanel->setGeometry(w - 96, 0, 96, kTopPanelHeight);
  BottomPanel->setGeometry(0, kTopPanelHeight, w, std::max(0, height() - kTopPanelHeight));
  const int border = BottomPanel->frameWidth();
  RichEdit->setGeometry(border, border, std::max(0, BottomPanel->width() - 2 * border),
                        std::max(0, BottomPanel->height() - 2 * border));
}

void TErrorWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayOut();
}

void TErrorWindow::SetDetailsShown(bool shown) {
  detailsShown_ = shown;
  if (shown) {
    resize(width(), kTopPanelHeight + kBottomPanelHeight);
    DetailBtn->setText(QStringLiteral("<< ") + LoadStr(SDetails));
  } else {
    resize(width(), kTopPanelHeight);
    DetailBtn->setText(LoadStr(SDetails) + QStringLiteral(" >>"));
  }
}

void TErrorWindow::showEvent(QShowEvent* event) {
  TForm::showEvent(event);
  // Centred on the screen once FormShow has given the window its size.
  if (QScreen* screen = this->screen(); screen != nullptr && !event->spontaneous()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

TOraErrorFrm::TOraErrorFrm(QWidget* parent)
    : TErrorWindow(parent),
      handler_([this](QObject* sender, const std::exception& e) { HandleOracleException(sender, e); }) {
  setObjectName(QStringLiteral("OraErrorFrm"));
}

TOraErrorFrm::~TOraErrorFrm() = default;

void TOraErrorFrm::HandleOracleException(QObject* sender, const std::exception& e) noexcept {
  Screen::SetCursor(crDefault);
  Application().NormalizeTopMosts();
  try {
    auto* oracleError = dynamic_cast<const EOError*>(&e);
    if (oracleError != nullptr && !Application().Terminated()) {
      // An error raised while this window is open (by a timer or the grid's
      // queued work) cannot be shown in it a second time.
      if (!isVisible()) {
        shownException_ = oracleError;
        // A fatal error handled meanwhile may release this window before exec returns.
        const QPointer<TOraErrorFrm> self(this);
        try {
          ShowModal();
        } catch (...) {
          if (self) shownException_ = nullptr;
          throw;
        }
        if (self) shownException_ = nullptr;
      }
    } else if (const auto saved = handler_.Saved()) {
      saved(sender, e);
    } else {
      Application().ShowException(e);
    }
  } catch (...) {
    // The handler of last resort never raises.
  }
  Application().RestoreTopMosts();
}

void TOraErrorFrm::FormShow() {
  setWindowTitle(QStringLiteral("Oracle ") + LoadStr(SErrorCaption));
  Button1->setText(LoadStr(SCloseCaption));
  SetDetailsShown(false);
  RichEdit->clear();
  if (shownException_ == nullptr) return;

  QTextCursor cursor(RichEdit->document());
  const QColor windowText = palette().color(QPalette::WindowText);
  QString message = shownException_->Message();
  message.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  cursor.insertText(message, Plain(windowText));

  if (!shownException_->ProblemSQL.isEmpty()) {
    // The statement ends with a blank, so the marked word always ends in one.
    const QString sql = shownException_->ProblemSQL + QLatin1Char(' ');
    const QTextCharFormat green = Plain(QColor(0, 128, 0));
    cursor.insertText(QStringLiteral("\n") + kProblemSqlBanner + QStringLiteral("\n"), green);
    // The statement goes in in three pieces, so that the marked characters are
    // exactly those of the statement, however the document counts line breaks.
    const int pos = std::clamp(shownException_->ErrorPos, 0, static_cast<int>(sql.size()));
    const qsizetype blank = sql.indexOf(QLatin1Char(' '), pos);
    const qsizetype end = blank < 0 ? sql.size() : blank + 1;
    QTextCharFormat red = Plain(QColor(255, 0, 0));
    red.setFontUnderline(true);
    cursor.insertText(sql.left(pos), green);
    cursor.insertText(sql.mid(pos, end - pos), red);
    cursor.insertText(sql.mid(end) + QStringLiteral("\n") + kProblemSqlBanner, green);
  }
  RichEdit->moveCursor(QTextCursor::Start);
  FirstErrLbl->setText(FirstErrorText(shownException_->Message()));
}

QString FirstErrorText(const QString& message) {
  const qsizetype start = message.indexOf(QStringLiteral("ORA-"));
  if (start < 0) return message;
  QString rest = message.mid(start + 11);
  const qsizetype next = rest.indexOf(QStringLiteral("ORA-"));
  if (next >= 0) rest.truncate(next);
  return rest;
}

TOraErrorFrm* OracleErrorWindow() { return oracleErrorWindow; }

void CreateOracleErrorWindow() {
  if (oracleErrorWindow == nullptr) oracleErrorWindow = new TOraErrorFrm();
}

void ReleaseOracleErrorWindow() {
  delete oracleErrorWindow;
  oracleErrorWindow = nullptr;
}
