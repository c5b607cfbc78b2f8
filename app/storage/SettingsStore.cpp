#include "SettingsStore.h"

#include "AppPaths.h"
#include "Errors.h"
#include "Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace veyra {

SettingsStore::SettingsStore(Clock clock)
    : m_clock(std::move(clock))
{
}

AppSettings SettingsStore::loadSettingsNow()
{
    try {
        return AppPaths::read<AppSettings>(AppPaths::settings(), AppPaths::settingsCap).value_or(AppSettings {});
    } catch (const std::exception &error) {
        quarantineNow(AppPaths::settings());
        Logger::shared().log(QStringLiteral("设置文件损坏，已恢复默认值：") + describe(error));
        return AppSettings {};
    }
}

void SettingsStore::quarantineNow(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return;
    const QString stem = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    const QString aside
        = info.dir().filePath(QStringLiteral("%1.broken-%2.json").arg(stem).arg(m_clock().toSecsSinceEpoch()));
    QFile::rename(path, aside);
}

QCoro::Task<AppSettings> SettingsStore::loadSettings()
{
    auto job = [this] { return loadSettingsNow(); };
    AppSettings settings = co_await m_executor.run(job);
    co_return settings;
}

QCoro::Task<AppSettings> SettingsStore::importSettings(QString path)
{
    auto job = [path] {
        AppSettings settings = AppPaths::read<AppSettings>(path, AppPaths::settingsCap).value_or(AppSettings {});
        settings.validate();
        AppPaths::write(settings.toJson(), AppPaths::settings());
        return settings;
    };
    AppSettings imported = co_await m_executor.run(job);
    co_return imported;
}

QCoro::Task<> SettingsStore::saveSettings(AppSettings settings)
{
    auto job = [settings] {
        settings.validate();
        AppPaths::write(settings.toJson(), AppPaths::settings());
    };
    co_await m_executor.run(job);
}

QCoro::Task<> SettingsStore::savePendingOrder(std::optional<PendingOrderRecord> record)
{
    auto job = [record] {
        if (record)
            AppPaths::write(record->toJson(), AppPaths::pendingOrder());
        else
            AppPaths::removeIfExists(AppPaths::pendingOrder());
    };
    co_await m_executor.run(job);
}

QCoro::Task<> SettingsStore::quarantine(QString path)
{
    auto job = [this, path] { quarantineNow(path); };
    co_await m_executor.run(job);
}

} // namespace veyra
