// main() of the test programs that use fake USB devices: makes sure umockdev's preload library
// is loaded (re-executing the program once if need be), then runs the tests.
#include <gtest/gtest.h>

#include "umockdev_harness.h"

int main(int argc, char** argv) {
  velmora::fake::UmockdevHarness::EnsurePreload(argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
