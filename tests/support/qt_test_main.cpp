// main() of GUI test programs: an offscreen QApplication around the GoogleTest run. Test
// discovery starts the program at build time without a display, so offscreen is the default.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string_view>

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The window locks the device it works on: each test program keeps its locks to itself, so
  // programs that ctest runs side by side on the same virtual device never refuse each other.
  char lock_dir[] = "/tmp/velmora-test-locks-XXXXXX";
  if (mkdtemp(lock_dir) != nullptr) setenv("VELMORA_LOCK_DIR", lock_dir, 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  const int result = RUN_ALL_TESTS();
  if (const char* dir = std::getenv("VELMORA_LOCK_DIR");
      dir != nullptr && dir == std::string_view(lock_dir)) {
    std::filesystem::remove_all(dir);
  }
  return result;
}
