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

CLogerManager &log_manager()
{
    return *dynamic_cast<CLogerManager *>(ILogManager::getInstance());
}

} // namespace

log_capture::log_capture(int level) : m_previous(log_manager().logger(ILogManager::kMainLogger))
{
    LoggerConfig config = m_previous;
    config.path = m_dir.path().toStdString() + "/";
    config.level = level;
    config.display = false;
    config.enabled = true;
    log_manager().stop();
    log_manager().setLogger(ILogManager::kMainLogger, "Main", config);
    log_manager().start();
}

log_capture::~log_capture()
{
    log_manager().stop();
    log_manager().setLogger(ILogManager::kMainLogger, "Main", m_previous);
}

int log_capture::count(const std::string &piece) const
{
    QByteArray all;
    for (const QFileInfo &file : QDir(m_dir.path()).entryInfoList(QDir::Files)) {
        QFile in(file.filePath());
        all += in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    return static_cast<int>(all.count(QByteArray::fromStdString(piece)));
}

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
