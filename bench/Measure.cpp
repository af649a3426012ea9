// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/Measure.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <numeric>

namespace rp::bench {

namespace {

double Seconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The number after "name:" in a /proc file of "name: value" lines, or -1.
int64_t ProcField(const char* path, const char* field) {
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

double ProcessCpuSeconds() {
    return Seconds(CLOCK_PROCESS_CPUTIME_ID);
}

double ThreadCpuSeconds() {
    return Seconds(CLOCK_THREAD_CPUTIME_ID);
}

double WallSeconds() {
    return Seconds(CLOCK_MONOTONIC);
}

int64_t StatusKilobytes(const char* field) {
    return ProcField("/proc/self/status", field);
}

int64_t WrittenBytes() {
    return ProcField("/proc/self/io", "wchar");
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Mean(const std::vector<double>& values) {
    if (values.empty())
        return 0;
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

void TJson::Name(const QByteArray& name) {
    if (!fields.isEmpty())
        fields += ", ";
    fields += '"' + name + "\": ";
}

TJson& TJson::Add(const QByteArray& name, double value) {
    Name(name);
    fields += std::isfinite(value) ? QByteArray::number(value, 'g', 6) : QByteArray("null");
    return *this;
}

TJson& TJson::Add(const QByteArray& name, int64_t value) {
    Name(name);
    fields += QByteArray::number(static_cast<qlonglong>(value));
    return *this;
}

TJson& TJson::Add(const QByteArray& name, const QString& value) {
    Name(name);
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    fields += '"' + escaped.toUtf8() + '"';
    return *this;
}

} // namespace rp::bench
