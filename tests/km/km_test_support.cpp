#include "km_test_support.h"

#include <QApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

// One QApplication for every test of the program: widgets, timers and queued calls need it.
struct application_environment : ::testing::Environment {
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_km";
        static char *argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }
    std::unique_ptr<QApplication> app;
};

[[maybe_unused]] const auto *g_environment = ::testing::AddGlobalTestEnvironment(new application_environment);

} // namespace

bool test_syncer::wait_for_answer(int)
{
    const bool answered = c_net_syncer::wait_for_answer(answerWaitMs.load());
    answersSeen.fetch_add(answered ? 1 : 0);
    return answered;
}

std::string hex(const bytes &body)
{
    return QByteArray(reinterpret_cast<const char *>(body.data()), static_cast<qsizetype>(body.size()))
        .toHex(' ').toUpper().toStdString();
}

std::vector<std::string> drain(test_syncer &syncer, km_peer &peer)
{
    std::vector<std::string> bodies;
    bytes body;
    while (syncer.send_next() && peer.read_frame(body))
        bodies.push_back(hex(body));
    return bodies;
}
