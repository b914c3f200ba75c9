// The yardstick of the start-up figure: a bare Qt program that shows one
// dialog with a line of text and a button, so that it loads the fonts any
// dialog with text needs, as the login dialog does.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QDialog dialog;
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QStringLiteral("Hello"), &dialog));
  layout->addWidget(new QPushButton(QStringLiteral("OK"), &dialog));
  return dialog.exec();
}
