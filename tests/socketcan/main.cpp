// The SocketCAN tests need the kernel's vcan0; where there is none they are skipped as a whole
// (exit code 77, which the test runner counts as skipped).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
  std::error_code ec;
  if (!std::filesystem::exists("/sys/class/net/vcan0", ec)) {
    std::printf("vcan0 not present: SocketCAN tests skipped\n");
    return 77;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
