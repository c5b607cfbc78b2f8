#pragma once

#include <QCoroTask>
#include <QString>
#include <QTemporaryDir>
#include <exception>
#include <gtest/gtest.h>
#include <optional>

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

// Runs a coroutine to completion on the test's event loop and returns its result or rethrows
// its exception. (QCoro::waitFor alone never returns when the task throws: its helper coroutine
// swallows the exception before it quits the loop.)
// (A bare exception_ptr cannot be a task's value: QCoro keeps its own in the same variant.)
struct CapturedFailure {
    std::exception_ptr failure;
};

template <typename T> QCoro::Task<CapturedFailure> captureFailure(QCoro::Task<T> task, std::optional<T> &result)
{
    try {
        result.emplace(co_await std::move(task));
    } catch (...) {
        co_return CapturedFailure { std::current_exception() };
    }
    co_return CapturedFailure {};
}

inline QCoro::Task<CapturedFailure> captureFailure(QCoro::Task<void> task)
{
    try {
        co_await std::move(task);
    } catch (...) {
        co_return CapturedFailure { std::current_exception() };
    }
    co_return CapturedFailure {};
}

template <typename T> T await(QCoro::Task<T> &&task)
{
    if constexpr (std::is_void_v<T>) {
        if (std::exception_ptr failure = QCoro::waitFor(captureFailure(std::move(task))).failure)
            std::rethrow_exception(failure);
    } else {
        std::optional<T> result;
        if (std::exception_ptr failure = QCoro::waitFor(captureFailure(std::move(task), result)).failure)
            std::rethrow_exception(failure);
        return std::move(*result);
    }
}

} // namespace veyra::test
