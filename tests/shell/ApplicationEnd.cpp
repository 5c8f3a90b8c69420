// The QApplication the shell tests make lives to the end of the tests, but not into exit(): the
// web engine's threads (network, GPU, compositor) end with it. Left running while the static
// destructors ran, they crashed the test program now and then at its very end.
#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {
class TApplicationEnd : public ::testing::Environment {
public:
  void TearDown() override { delete QCoreApplication::instance(); }
};

[[maybe_unused]] ::testing::Environment* const ApplicationEnd =
    ::testing::AddGlobalTestEnvironment(new TApplicationEnd);
}  // namespace
