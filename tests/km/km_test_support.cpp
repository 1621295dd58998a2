#include "km_test_support.h"


#include <QApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <memory>

namespace {

// One QApplication for every test of the program: widgets, timers and queued calls need it.
class application_environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_km";
        static char *argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] const auto *g_environment = ::testing::AddGlobalTestEnvironment(new application_environment);

CLogerManager &log_manager()
{
    return *dynamic_cast<CLogerManager *>(ILogManager::getInstance());
}

} // namespace

log_capture::log_capture(int level)
{
    log_manager().stop();
    m_previous = log_manager().logger(ILogManager::kMainLogger);
    LoggerConfig config = m_previous;
    config.path = m_dir.path().toStdString() + "/log/";
    config.level = level;
    config.display = false;
    config.enabled = true;
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
    std::string all;
    QDir dir(m_dir.path() + "/log/");
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll().toStdString();
    }
    int n = 0;
    for (auto at = all.find(piece); at != std::string::npos; at = all.find(piece, at + 1))
        ++n;
    return n;
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
