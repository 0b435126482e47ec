#pragma once
// The exchange waits for its socket in the Qt event loop, so tests that talk to a
// server need an application object: one for the whole test program, made on first use.
#include <QCoreApplication>

#include <gtest/gtest.h>

namespace qm::test {

inline QCoreApplication& coreApplication()
{
    static int argc = 1;
    static char name[] = "quillmaren-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// For AddGlobalTestEnvironment: the application exists before the first test.
class QtCoreEnvironment : public ::testing::Environment {
public:
    void SetUp() override { coreApplication(); }
};

} // namespace qm::test
