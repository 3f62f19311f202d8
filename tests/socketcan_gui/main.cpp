// The window on the kernel's vcan0: the window tests' entry (app/GuiTestRun.h). Where there is no
// vcan0 the tests are skipped as a whole (exit code 77, which the test runner counts as skipped).
#include <cstdio>
#include <filesystem>

#include "app/GuiTestRun.h"

int main(int argc, char** argv) {
  std::error_code ec;
  if (!std::filesystem::exists("/sys/class/net/vcan0", ec)) {
    std::printf("vcan0 not present: SocketCAN tests skipped\n");
    return 77;
  }
  return bp::test::runWindowTests(argc, argv);
}
