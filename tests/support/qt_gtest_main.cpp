// GoogleTest main for tests that need a Qt application (offscreen in CI).
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "ui/fonts.h"

#ifdef QUENLOW_CHECK_ALLOCATIONS
#include "oralib/o_utils.h"

namespace {

// Fails every test after which the library holds more (or fewer) counted
// blocks than before it.
class AllocationBalance : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { held_ = AllocCount() - FreeCount(); }
  void OnTestEnd(const ::testing::TestInfo&) override {
    const int32_t held = AllocCount() - FreeCount();
    if (held != held_)
      ADD_FAILURE() << "counted blocks held before the test: " << held_ << ", after it: " << held
                    << " (" << AllocCount() << " allocations, " << FreeCount() << " releases)";
  }
  int32_t held_ = 0;
};

}  // namespace
#endif

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Windows are laid out with the font the program itself uses.
  SubstituteDesignFont();
  ::testing::InitGoogleTest(&argc, argv);
#ifdef QUENLOW_CHECK_ALLOCATIONS
  // Ahead of the result printer, so that a failure is reported with its test.
  auto& listeners = ::testing::UnitTest::GetInstance()->listeners();
  ::testing::TestEventListener* printer = listeners.Release(listeners.default_result_printer());
  listeners.Append(new AllocationBalance);
  if (printer != nullptr) listeners.Append(printer);
#endif
  return RUN_ALL_TESTS();
}
