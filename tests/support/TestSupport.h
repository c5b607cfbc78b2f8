#pragma once

#include <QCoroTask>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace veyra::test {

// Gives each test its own data folder so nothing touches the real home.
class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    QString root() const { return m_dir.path() + QStringLiteral("/VeyraNetworkAssistant"); }

    QTemporaryDir m_dir;
};

// The permission bits of a path (e.g. 0600), or -1 when it does not exist.
int modeOf(const QString &path);

void writeBytes(const QString &path, const QByteArray &bytes);
QByteArray readBytes(const QString &path);

// Runs a coroutine to completion on the test's event loop.
template <typename T> T await(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}

} // namespace veyra::test
