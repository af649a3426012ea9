// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the benchmark reads off the system: CPU time rather than wall time (the
// machine is shared), resident memory and bytes handed to write().

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace rp::bench {

double ProcessCpuSeconds();
double ThreadCpuSeconds();
double WallSeconds();

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), or -1.
int64_t StatusKilobytes(const char* field);
// Bytes this process passed to write() and similar calls so far.
int64_t WrittenBytes();

double Median(std::vector<double> values);
double Mean(const std::vector<double>& values);

// A flat JSON object built field by field, for the report script.
class TJson {
public:
    TJson& Add(const QByteArray& name, double value);
    TJson& Add(const QByteArray& name, int64_t value);
    TJson& Add(const QByteArray& name, const QString& value);
    QByteArray Text() const { return "{" + fields + "}"; }

private:
    void Name(const QByteArray& name);
    QByteArray fields;
};

} // namespace rp::bench
