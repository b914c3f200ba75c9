// The program's entry: sets up the application, creates its four windows and
// runs the event loop.
#include <QApplication>
#include <memory>

#include "app/Unit1.h"
#include "app/u_about.h"
#include "app/u_options.h"
#include "app/u_sqlstatement.h"
#include "oralib/o_utils.h"
#include "ui/application.h"
#include "ui/fonts.h"
#include "ui/programicon.h"

int main(int argc, char* argv[]) {
  QApplication qtApplication(argc, argv);
  // The menu entry that started the program, and its icon for the windows
  // that have none of their own (the login dialog comes before the main window).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.example.quenlow"));
  QApplication::setWindowIcon(ProgramIcon());
  // The layouts were sized for a font this platform lacks.
  SubstituteDesignFont();
  // The main window shows itself at the end of its creation, and only if that succeeds.
  Application().ShowMainForm = false;
  Application().SetTitle(QStringLiteral("QNV_Quenlow"));

  int result = 0;
  {
    const auto form1 = std::make_unique<TForm1>();
    const auto form2 = std::make_unique<TForm2>();
    const auto form3 = std::make_unique<TForm3>();
    const auto frmAbout = std::make_unique<TFrmAbout>();

    // A main window whose creation failed is never shown; the loop would
    // otherwise wait for a window that nobody can see or close.
    if (!form1->Created()) Application().Terminate();
    result = Application().Run();
  }
  // The windows and everything they owned are gone: every counted block
  // should be back.
  ReportUnfreedMemory();
  return result;
}
