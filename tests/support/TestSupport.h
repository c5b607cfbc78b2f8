#pragma once

#include "AppPaths.h"

#include <QCoroTask>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

namespace veyra::test {

// Gives each test its own data folder so nothing touches the real home.
class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        AppPaths::setRootOverride(root());
    }
    void TearDown() override { AppPaths::setRootOverride(QString()); }
    QString root() const { return m_dir.path() + QStringLiteral("/VeyraNetworkAssistant"); }

    QTemporaryDir m_dir;
};

// The permission bits of a path (e.g. 0600), or -1 when it does not exist.
int modeOf(const QString &path);

void writeBytes(const QString &path, const QByteArray &bytes);
QByteArray readBytes(const QString &path);

namespace detail {

// Where a task's outcome lands. Shared with the capturing coroutine, so a task that is given
// up on and finishes later still writes into live memory.
template <typename T> struct Outcome {
    std::optional<T> value;
    std::exception_ptr failure;
    bool done = false;
    QEventLoop *loop = nullptr;
};

template <typename T> using Stored = std::conditional_t<std::is_void_v<T>, bool, T>;

// QCoro's waitFor never returns when the task throws, and never returns at all when the task
// never resumes, so the outcome is caught inside a coroutine of our own and the wait is ours.
template <typename T> QCoro::Task<> capture(QCoro::Task<T> task, std::shared_ptr<Outcome<Stored<T>>> outcome)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task), outcome->value.emplace();
        else
            outcome->value.emplace(co_await std::move(task));
    } catch (...) {
        outcome->failure = std::current_exception();
    }
    outcome->done = true;
    if (outcome->loop)
        outcome->loop->quit();
}

} // namespace detail

// How long await() lets a task run: longer than any operation the tests wait for (the
// helper client's 12 s, the kernel's 10 s controller wait), shorter than a unit test's limit.
inline constexpr std::chrono::seconds awaitLimit { 45 };

// Runs a coroutine to completion on a nested event loop; its exception is rethrown here. A
// task still running after `limit` fails the wait with a message instead of hanging the test.
template <typename T> T await(QCoro::Task<T> &&task, std::chrono::milliseconds limit = awaitLimit)
{
    auto outcome = std::make_shared<detail::Outcome<detail::Stored<T>>>();
    // Kept until the wait ends; a task given up on goes on alone and finishes into `outcome`.
    QCoro::Task<> runner = detail::capture<T>(std::move(task), outcome);
    bool late = false;
    if (!outcome->done) {
        QEventLoop loop;
        outcome->loop = &loop;
        QTimer::singleShot(limit, &loop, [&] { late = true, loop.quit(); });
        loop.exec();
        outcome->loop = nullptr;
    }
    if (!outcome->done)
        throw std::runtime_error(late ? "the awaited task did not finish within "
                    + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) + " s"
                                      : "the event loop was told to quit before the awaited task finished");
    if (outcome->failure)
        std::rethrow_exception(outcome->failure);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome->value);
}

// The user-facing text of the failure a task ends with; nothing when it succeeds.
std::optional<QString> failureOf(QCoro::Task<void> &&task);

} // namespace veyra::test
