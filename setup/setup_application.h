// nimsetup: checks that the Windows 95/98 monitor is installed and registered, has the spooler
// add a port of it (the monitor shows its port dialog), tells the user that the port is in place
// and, if the user agrees, starts the system's Add Printer wizard. It reads no command line.
#pragma once

#include "setup/app_frame.h"

// The whole program runs in the start-up step, which always reports failure: no message loop
// runs and the program ends when the step returns.
class SetupApplication : public Application {
  public:
    BOOL InitInstance() override;
};

// "La instalación del Nimbrel Port fue completada con éxito." with "Aceptar" (IDOK: start the
// Add Printer wizard) and "Cancelar" (IDCANCEL, also the close box: just end).
class CompletionDialog : public ModalDialog {
  public:
    CompletionDialog();
};
