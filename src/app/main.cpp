// VeUpd: runs one update level described by the parameter file named on the
// command line.
#include "app/ve_update_app.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  veupd::CVeUpdateApp app(veupd::os::CreateProgressView());
  return app.InitInstance(veupd::os::CommandLineText(argc, argv));
}
