#include "app/ProgressText.h"

#include "app/DisplayText.h"

namespace tarnwick {

QString ProgressLine(const TTransferProgress& progress) {
    // Decoded apart: a name that is not UTF-8 must not turn the em dash into Windows-1252.
    return DisplayText(progress.fileName) + QString::fromStdString(progress.lineAfterName);
}

QString RateText(double bytesPerSecond) {
    constexpr double KiB = 1024.0, MiB = KiB * 1024.0, GiB = MiB * 1024.0;
    if (bytesPerSecond >= GiB) return QString::number(bytesPerSecond / GiB, 'f', 1) + QStringLiteral(" GB/s");
    if (bytesPerSecond >= MiB) return QString::number(bytesPerSecond / MiB, 'f', 1) + QStringLiteral(" MB/s");
    if (bytesPerSecond >= KiB) return QString::number(bytesPerSecond / KiB, 'f', 0) + QStringLiteral(" KB/s");
    return QString::number(bytesPerSecond < 0 ? 0.0 : bytesPerSecond, 'f', 0) + QStringLiteral(" B/s");
}

QString TimeLeftText(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    const std::int64_t hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
    const auto two = [](std::int64_t n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    const QString clock = hours > 0 ? QString::number(hours) + ':' + two(minutes) + ':' + two(rest)
                                    : QString::number(minutes) + ':' + two(rest);
    return clock + QStringLiteral(" left");
}

}  // namespace tarnwick
