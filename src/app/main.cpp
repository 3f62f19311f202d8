// Program entry of busprobe.
#include <QMessageBox>
#include <cstdio>
#include <memory>

#include "app/BusprobeApplication.h"
#include "app/BusprobeMain.h"
#include "app/Messages.h"
#include "app/QuitOnSignal.h"
#include "app/frmInput1.h"
#include "channel/Channel.h"
#include "channel/Options.h"

int main(int argc, char* argv[]) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bp::channel::Options options = bp::channel::parseOptions(args);
  if (!options.error.empty()) {
    std::fprintf(stderr, "busprobe: %s\n\n%s", options.error.c_str(), bp::channel::usageText().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(bp::channel::usageText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("Busprobe 2.2");
    return 0;
  }

  bp::app::BusprobeApplication app(argc, argv);
  bp::app::quitOnTerminationSignals();
  try {
    bp::channel::Channel channel = bp::channel::openChannel(options);
    bp::app::TfrmBPX frmBPX(std::move(channel.driver));
    bp::app::TfrmInput frmInput(&frmBPX);
    frmBPX.setInputDialog(&frmInput);
    channel.startPeer();  // the demo node boots now, so its boot-up shows in the monitor
    int result = 0;
    if (!bp::app::terminationRequested()) {
      frmBPX.show();
      result = app.exec();
    }
    channel.stopPeer();
    return result;
  } catch (const std::exception& e) {
    if (bp::app::terminationRequested()) {
      std::fprintf(stderr, "busprobe: %s\n", e.what());
    } else {
      QMessageBox::critical(nullptr, QStringLiteral("Busprobe"), bp::app::textFromBytes(e.what()));
    }
  }
  return 0;
}
