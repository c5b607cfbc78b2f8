#pragma once

#include <QCoroTask>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <exception>
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

namespace detail {

// QCoro's waitFor never returns when the task throws, so the outcome is caught inside a
// coroutine of our own and handed back after the loop ends.
template <typename T> QCoro::Task<> capture(QCoro::Task<T> task, std::optional<T> &value, std::exception_ptr &failure)
{
    try {
        value.emplace(co_await std::move(task));
    } catch (...) {
        failure = std::current_exception();
    }
}

inline QCoro::Task<> capture(QCoro::Task<> task, std::exception_ptr &failure)
{
    try {
        co_await std::move(task);
    } catch (...) {
        failure = std::current_exception();
    }
}

} // namespace detail

// Runs a coroutine to completion on a nested event loop; its exception is rethrown here.
template <typename T> T await(QCoro::Task<T> &&task)
{
    std::exception_ptr failure;
    if constexpr (std::is_void_v<T>) {
        QCoro::waitFor(detail::capture(std::move(task), failure));
        if (failure)
            std::rethrow_exception(failure);
    } else {
        std::optional<T> value;
        QCoro::waitFor(detail::capture(std::move(task), value, failure));
        if (failure)
            std::rethrow_exception(failure);
        return std::move(*value);
    }
}

} // namespace veyra::test
