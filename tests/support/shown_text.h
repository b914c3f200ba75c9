// What a label, tooltip or message box puts on the screen for a text: Qt takes
// a text that looks like markup as rich text unless the control is told the
// text is plain.
#pragma once

#include <QString>
#include <QTextDocument>
#include <Qt>

inline QString ShownText(const QString& text, Qt::TextFormat format = Qt::AutoText) {
  if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text))) return text;
  QTextDocument document;
  if (format == Qt::MarkdownText)
    document.setMarkdown(text);
  else
    document.setHtml(text);
  return document.toPlainText();
}

// A text that markup would change: tags, an entity and an ampersand.
inline QString MarkupLike() { return QStringLiteral("<b>bold</b> &lt;tag&gt; & <i>x</i>"); }
