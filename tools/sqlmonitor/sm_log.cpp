// The monitor's log: received lines with arrival time and client, filtering and
// saving.
#include "sm_log.h"

#include <QIODevice>
#include <QTextDocument>

namespace {

QString TimeText(const QDateTime& time) { return time.toString(QStringLiteral("HH:mm:ss.zzz")); }

// A tooltip takes a text that looks like markup as rich text; a traced
// statement or value is shown as it is, so such a text goes in escaped.
QString ToolTipOf(const QString& text) {
  if (!Qt::mightBeRichText(text)) return text;
  return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

}  // namespace

void TSMLog::Append(TSMLogLine line) {
  const int row = Count();
  beginInsertRows({}, row, row);
  lines_.append(std::move(line));
  endInsertRows();
}

void TSMLog::Clear() {
  beginResetModel();
  lines_.clear();
  endResetModel();
}

QString TSMLog::Format(const TSMLogLine& line) {
  return TimeText(line.time) + QLatin1Char('\t') + line.client + QLatin1Char('\t') + line.text;
}

bool TSMLog::Save(QIODevice& device) const {
  for (const TSMLogLine& line : lines_)
    if (device.write((Format(line) + QLatin1Char('\n')).toUtf8()) < 0) return false;
  return true;
}

int TSMLog::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

int TSMLog::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TSMLog::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count()) return {};
  const TSMLogLine& line = lines_.at(index.row());
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case TimeColumn:
          return TimeText(line.time);
        case ClientColumn:
          return line.client;
        case LineColumn: {
          // Statements may span lines; the row shows them on one, the tip whole.
          QString text = line.text;
          text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
          return text;
        }
      }
      return {};
    case Qt::ToolTipRole:
      return index.column() == LineColumn ? QVariant(ToolTipOf(line.text)) : QVariant();
    default:
      return {};
  }
}

QVariant TSMLog::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case TimeColumn:
      return QStringLiteral("Time");
    case ClientColumn:
      return QStringLiteral("Client");
    case LineColumn:
      return QStringLiteral("Line");
  }
  return {};
}
