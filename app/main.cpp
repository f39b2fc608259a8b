// Start-up of the telephone directory viewer: the application object with
// its title, then the main window, the data module and the splash, in that
// order, then the message loop. Creating the data module opens PHONE.DBF
// from the current working directory; when that fails, the user is told in
// Russian what is missing where (the engine's message in the details) and
// the program ends with status 1. Showing the main
// window brings up the splash.
#include <memory>

#include "app/Application.h"
#include "app/UnitDM.h"
#include "app/UnitLogo.h"
#include "app/UnitMain.h"
#include "ui/dbgridmodel.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  application.SetTitle(QStringLiteral(u"Телефонный справочник"));

  std::unique_ptr<TfrmMain> frmMain;
  std::unique_ptr<TDM> DM;
  std::unique_ptr<TfrmLogo> frmLogo;
  try {
    frmMain = std::make_unique<TfrmMain>();
    DM = std::make_unique<TDM>();
    frmLogo = std::make_unique<TfrmLogo>();
  } catch (const std::exception& error) {
    // The program cannot run without its forms and its table: say why in
    // the user's language, the engine's own words in the details, and end.
    application.ShowException(frmMain && !DM ? TDM::OpenFailureText()
                                            : QStringLiteral(u"Не удалось запустить программу."),
                              TApplication::ExceptionText(error));
    return 1;
  }
  frmMain->SetDataModule(DM.get());
  frmMain->SetLogo(frmLogo.get());
  frmLogo->SetDataModule(DM.get());

  // The grids read the table's rows through its data source; the model goes
  // before the data module when the program ends.
  auto gridModel = std::make_unique<TDBGridModel>();
  gridModel->SetColumns({"NUM", "FIO", "ADR"});
  gridModel->SetDataSource(DM->dsVemaron.get());
  frmMain->SetGridModel(gridModel.get());

  frmMain->show();
  return application.exec();
}
