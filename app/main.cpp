#include "app/CrashReporting.h"
#include "app/MendrakeApplication.h"
#include "app/QtDialogs.h"
#include "app/vazidi.h"

int main(int argc, char** argv) {
  mendrake::MendrakeApplication application(argc, argv);
  mendrake::QtDialogs dialogs;
  mendrake::TForm1 form(dialogs);
  mendrake::StartCrashReporting(form);
  form.show();
  return application.exec();
}
